# The account client against the stand-in service's account API, under Wine.
include(${PROJECT_SOURCE_DIR}/tests/net/standin_fixture.cmake)
if(WIN32 AND TARGET account_client_win32_test)
  ember_use_standin(account_client_win32_test TARGET account_client_win32_test)
endif()
