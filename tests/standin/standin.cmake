# The stand-in web service's own checks (Python unittest, host only: the
# service runs on the host in both builds, so the native build runs them).
if(NOT WIN32)
  find_program(EMBER_PYTHON3 python3 REQUIRED)
  add_test(NAME standin_service_test
    COMMAND ${EMBER_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/standin_test.py)
  set_tests_properties(standin_service_test PROPERTIES TIMEOUT 120)
endif()
