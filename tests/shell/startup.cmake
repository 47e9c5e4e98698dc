# The real Emberlane.exe under Wine: start-up modes and the --updated clean-up.
if(WIN32 AND TARGET Emberlane)
  add_test(NAME launcher_startup_e2e
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/startup_e2e.sh ${PROJECT_SOURCE_DIR}/tools/wine-run
                   $<TARGET_FILE:Emberlane>)
  # It opens visible launcher windows (see window.cmake).
  set_tests_properties(launcher_startup_e2e PROPERTIES RESOURCE_LOCK launcher_windows)
endif()

# Two real launchers at once: the second shows the first and ends.
if(WIN32 AND TARGET Emberlane)
  add_executable(front_window ${CMAKE_CURRENT_LIST_DIR}/helpers/front_window.cpp)
  target_link_libraries(front_window PRIVATE ember_warnings)
  add_test(NAME launcher_single_instance_e2e
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/single_instance_e2e.sh ${PROJECT_SOURCE_DIR}/tools/wine-run
                   $<TARGET_FILE:Emberlane> $<TARGET_FILE:front_window>)
  set_tests_properties(launcher_single_instance_e2e PROPERTIES RESOURCE_LOCK launcher_windows TIMEOUT 240)
endif()
