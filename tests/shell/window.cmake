# The real Emberlane.exe's window under Wine and Xvfb: screenshots, the
# owed-frames rule through the UI trace, idle CPU.
if(WIN32 AND TARGET Emberlane)
  # Synthetic clicks are posted to the window by this helper.
  add_executable(post_click ${CMAKE_CURRENT_LIST_DIR}/helpers/post_click.cpp)
  target_link_libraries(post_click PRIVATE ember_warnings)
  add_test(NAME launcher_window_e2e
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/window_e2e.py ${PROJECT_SOURCE_DIR}/tools/wine-run
                   $<TARGET_FILE:Emberlane> $<TARGET_FILE:post_click>)
  # Its clicks go to the one launcher window: no other test that opens one
  # runs beside it.
  set_tests_properties(launcher_window_e2e PROPERTIES TIMEOUT 300 RESOURCE_LOCK launcher_windows)
  set_tests_properties(shell_window_phase_win32_test PROPERTIES RESOURCE_LOCK launcher_windows)
  # The high-contrast test switches the setting for the whole Wine prefix,
  # and every window in it is told and redraws in the other palette.
  set_tests_properties(shell_contrast_win32_test PROPERTIES RESOURCE_LOCK launcher_windows)
endif()

# What a screen reader finds in the window, read from another process.
if(WIN32 AND TARGET Emberlane)
  add_executable(uia_walk ${CMAKE_CURRENT_LIST_DIR}/helpers/uia_walk.cpp)
  target_link_libraries(uia_walk PRIVATE ember_warnings ole32 oleaut32)
  add_test(NAME launcher_access_e2e
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/access_e2e.py ${PROJECT_SOURCE_DIR}/tools/wine-run
                   $<TARGET_FILE:Emberlane> $<TARGET_FILE:uia_walk>)
  # Wine 8's cross-process client stops answering a walk now and then while
  # other programs open and close windows in the same Wine server: it runs
  # alone, with the roads, which get a second try.
  set_tests_properties(launcher_access_e2e PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE LABELS roads)
endif()
