# The stand-in web service (tools/standin) as the ctest fixture
# "standin_service": one service per build directory, started on free
# loopback ports before the first test that needs it and stopped after the
# last. Its ports are in the JSON state file ${EMBER_STANDIN_STATE}.
#
# Any tests/<folder>/*.cmake may use it; folders are included in name order,
# so include this file first (it guards itself):
#
#   include(${PROJECT_SOURCE_DIR}/tests/net/standin_fixture.cmake)
#   ember_use_standin(<test name> [TARGET <executable target>])
#
# ember_use_standin makes the test require the fixture and, with TARGET,
# compiles EMBER_STANDIN_STATE (the state file's path as the program sees
# it: "Z:/..." under Wine) into that executable. Scripts run by ctest can
# read ${EMBER_STANDIN_STATE} directly, passed as an argument.
#
# In the Windows build the fixture also makes sure the test Wine prefix
# trusts the test CA (tools/wine-prefix.d/50-test-ca.sh).
include_guard(GLOBAL)

find_program(EMBER_PYTHON3 python3 REQUIRED)
set(EMBER_STANDIN_STATE ${PROJECT_BINARY_DIR}/standin/state.json)
if(WIN32)
  set(EMBER_STANDIN_STATE_FOR_TESTS "Z:${EMBER_STANDIN_STATE}")
  set(standin_trust --wine-trust)
else()
  set(EMBER_STANDIN_STATE_FOR_TESTS "${EMBER_STANDIN_STATE}")
  set(standin_trust "")
endif()

add_test(NAME standin_service_start
  COMMAND ${EMBER_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/standin/fixture.py start
          --state ${EMBER_STANDIN_STATE} ${standin_trust})
add_test(NAME standin_service_stop
  COMMAND ${EMBER_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/standin/fixture.py stop
          --state ${EMBER_STANDIN_STATE})
set_tests_properties(standin_service_start PROPERTIES FIXTURES_SETUP standin_service TIMEOUT 120)
set_tests_properties(standin_service_stop PROPERTIES FIXTURES_CLEANUP standin_service TIMEOUT 30)

function(ember_use_standin test)
  cmake_parse_arguments(S "" "TARGET" "" ${ARGN})
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED standin_service)
  if(S_TARGET)
    target_compile_definitions(${S_TARGET} PRIVATE EMBER_STANDIN_STATE="${EMBER_STANDIN_STATE_FOR_TESTS}")
  endif()
endfunction()
