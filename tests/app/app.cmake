# Controller tests under Wine: the stand-in service and the stand-in loader.
include(${PROJECT_SOURCE_DIR}/tests/net/standin_fixture.cmake)
if(WIN32)
  ember_use_standin(app_pipeline_win32_test TARGET app_pipeline_win32_test)
  target_compile_definitions(app_pipeline_win32_test PRIVATE
    EMBER_FIXTURES_DIR="Z:${PROJECT_BINARY_DIR}/fixtures")
  add_dependencies(app_pipeline_win32_test standin_fixtures)
endif()
if(WIN32)
  ember_use_standin(app_accounts_win32_test TARGET app_accounts_win32_test)
endif()

# The sign-in figures program for Wine (bench/signin-figures builds it).
if(WIN32)
  add_executable(signin_figures EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/signin_figures.cpp)
  target_link_libraries(signin_figures PRIVATE ember_shell)
  target_include_directories(signin_figures PRIVATE ${PROJECT_SOURCE_DIR})
endif()

# What a click that saves costs the UI thread (bench/click-figures builds it).
if(WIN32)
  add_executable(click_figures EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/click_figures.cpp)
  target_link_libraries(click_figures PRIVATE ember_shell ember_test_support)
  target_include_directories(click_figures PRIVATE ${PROJECT_SOURCE_DIR})
endif()

# Speed limit and pause against a stand-in service of their own, which
# counts the bytes it sends every 100 ms (--count-sent) and publishes the
# bench channels.
if(WIN32)
  set(counting_state ${PROJECT_BINARY_DIR}/standin/counting.json)
  add_test(NAME standin_counting_start
    COMMAND ${EMBER_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/standin/fixture.py start
            --state ${counting_state} --wine-trust -- --count-sent --bench-channels --accounts none)
  add_test(NAME standin_counting_stop
    COMMAND ${EMBER_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/standin/fixture.py stop --state ${counting_state})
  set_tests_properties(standin_counting_start PROPERTIES FIXTURES_SETUP standin_counting TIMEOUT 120)
  set_tests_properties(standin_counting_stop PROPERTIES FIXTURES_CLEANUP standin_counting TIMEOUT 30)
  # The speed-limit table reads the service's count of every byte that
  # reaches the client, so nothing else downloads from this service beside
  # it, and it runs alone: on a machine whose cores are all taken, the
  # client's system reads its own stalls as a long round trip and grows the
  # connections' receive buffers, which the service then fills past the
  # limit (with two busy loops beside it, 3 runs in 6 saw a 1 s window
  # above 150%).
  set_tests_properties(app_download_control_win32_test PROPERTIES FIXTURES_REQUIRED standin_counting
    ENVIRONMENT "EMBER_STANDIN_STATE=Z:${counting_state};GTEST_FILTER=PauseAndResume.*" TIMEOUT 180
    RESOURCE_LOCK standin_counting)
  add_test(NAME app_speed_limit_win32_test COMMAND app_download_control_win32_test)
  set_tests_properties(app_speed_limit_win32_test PROPERTIES FIXTURES_REQUIRED standin_counting
    ENVIRONMENT "EMBER_STANDIN_STATE=Z:${counting_state};GTEST_FILTER=SpeedLimit.*" TIMEOUT 180
    RESOURCE_LOCK standin_counting RUN_SERIAL TRUE)
  target_compile_definitions(app_download_control_win32_test PRIVATE
    EMBER_STANDIN_STATE="Z:${counting_state}" EMBER_FIXTURES_DIR="Z:${PROJECT_BINARY_DIR}/fixtures")
  add_dependencies(app_download_control_win32_test standin_fixtures)
endif()

# The speed limit's figures under Wine (bench/limit-figures builds it).
if(WIN32)
  add_executable(limit_figures EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/limit_figures.cpp)
  target_link_libraries(limit_figures PRIVATE ember_shell)
  target_include_directories(limit_figures PRIVATE ${PROJECT_SOURCE_DIR})
endif()
