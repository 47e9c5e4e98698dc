# The player's roads through the real Emberlane.exe window (roads.py): each
# road on its own X display with its own stand-in service, configuration
# and game folder, so the roads run side by side. Artefacts (folders, log,
# trace, last-screen.png) stay in ${PROJECT_BINARY_DIR}/roads/<road>.
include(${PROJECT_SOURCE_DIR}/tests/net/standin_fixture.cmake)
if(WIN32 AND TARGET Emberlane)
  set(ember_roads first-start update-repair blocked-mod account keyboard rate-limit offline stop-update pause-resume)
  set(ember_road_locks "")
  foreach(road ${ember_roads})
    add_test(NAME roads_${road}
             COMMAND ${EMBER_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/roads.py ${PROJECT_SOURCE_DIR}/tools/wine-run
                     $<TARGET_FILE:Emberlane> ${PROJECT_BINARY_DIR}/fixtures ${PROJECT_BINARY_DIR}/roads ${road})
    set_tests_properties(roads_${road} PROPERTIES LABELS "roads;e2e" TIMEOUT 300 SKIP_RETURN_CODE 77
                         RESOURCE_LOCK roads_${road} ENVIRONMENT "EMBER_LAUNCHER_VERSION=${PROJECT_VERSION}")
    list(APPEND ember_road_locks roads_${road})
  endforeach()
  # Tests that find "the" launcher window by its class, or start the
  # stand-in game (every launcher sees every game process), never run
  # beside a road. The account tests join them: they set the shared
  # stand-in's faults and play games of their own, and run beside the
  # pipeline's test they were seen to see each other's faults and games.
  get_property(ember_all_tests DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTY TESTS)
  foreach(test ${ember_all_tests})
    get_test_property(${test} RESOURCE_LOCK locks)
    if((locks AND locks MATCHES "launcher_windows") OR test MATCHES "^(app_pipeline_win32_test|install_game_win32_test|app_accounts_win32_test|account_client_win32_test)$")
      set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK ${ember_road_locks})
    endif()
  endforeach()
endif()
