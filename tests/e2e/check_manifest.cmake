# End to end: the real Emberlane.exe's --check-manifest report under Wine,
# against manifest files and the stand-in web service over HTTP and HTTPS.
# One ctest test runs every case (tests/e2e/check_manifest_e2e.py).
include(${PROJECT_SOURCE_DIR}/tests/net/standin_fixture.cmake)

if(WIN32 AND TARGET Emberlane)
  add_test(NAME e2e_check_manifest
    COMMAND ${EMBER_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/check_manifest_e2e.py
            --exe $<TARGET_FILE:Emberlane>
            --wine-run ${PROJECT_SOURCE_DIR}/tools/wine-run
            --data ${PROJECT_SOURCE_DIR}/tests/data/manifests
            --work ${PROJECT_BINARY_DIR}/e2e/check_manifest
            --standin-state ${EMBER_STANDIN_STATE})
  set_tests_properties(e2e_check_manifest PROPERTIES TIMEOUT 600 LABELS e2e)
  ember_use_standin(e2e_check_manifest)
endif()
