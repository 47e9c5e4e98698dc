# The HTTP client's integration test talks to the stand-in web service.
include(${CMAKE_CURRENT_LIST_DIR}/standin_fixture.cmake)
if(WIN32 AND TARGET net_http_win32_test)
  ember_use_standin(net_http_win32_test TARGET net_http_win32_test)
endif()
