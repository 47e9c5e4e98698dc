# The real Emberlane.exe under Wine: start-up modes and the --updated clean-up.
if(WIN32 AND TARGET Emberlane)
  add_test(NAME launcher_startup_e2e
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/startup_e2e.sh ${PROJECT_SOURCE_DIR}/tools/wine-run
                   $<TARGET_FILE:Emberlane>)
endif()
