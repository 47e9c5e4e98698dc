# The whole self-update with the real executables under Wine: the 2.1.0
# Emberlane.exe in a temporary folder updates itself to Emberlane-next.exe
# (2.2.0) published by a stand-in service of the test's own.
if(WIN32 AND TARGET Emberlane AND TARGET Emberlane_next)
  add_executable(selfupdate_driver ${CMAKE_CURRENT_LIST_DIR}/helpers/selfupdate_driver.cpp)
  target_link_options(selfupdate_driver PRIVATE -municode)
  target_link_libraries(selfupdate_driver PRIVATE ember_shell ember_warnings)
  add_test(NAME launcher_selfupdate_e2e
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/selfupdate_e2e.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:Emberlane> $<TARGET_FILE:Emberlane_next> $<TARGET_FILE:selfupdate_driver>)
  # It opens the launcher's window and closes it by its class.
  set_tests_properties(launcher_selfupdate_e2e PROPERTIES RESOURCE_LOCK launcher_windows TIMEOUT 180)
endif()
