# The real Emberlane.exe's window under Wine and Xvfb: screenshots, the
# owed-frames rule through the UI trace, idle CPU.
if(WIN32 AND TARGET Emberlane)
  add_test(NAME launcher_window_e2e
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/window_e2e.py ${PROJECT_SOURCE_DIR}/tools/wine-run
                   $<TARGET_FILE:Emberlane>)
  set_tests_properties(launcher_window_e2e PROPERTIES TIMEOUT 300)
endif()
