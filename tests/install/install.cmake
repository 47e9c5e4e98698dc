# Install tests under Wine: the stand-in service for the apply test, the
# stand-in game builds and loader for the game test.
include(${PROJECT_SOURCE_DIR}/tests/net/standin_fixture.cmake)
if(WIN32)
  ember_use_standin(install_apply_win32_test TARGET install_apply_win32_test)
  target_compile_definitions(install_game_win32_test PRIVATE
    EMBER_FIXTURES_DIR="Z:${PROJECT_BINARY_DIR}/fixtures")
  add_dependencies(install_game_win32_test standin_fixtures)
  # A download onto a disk that fills part-way (a tmpfs as drive T:).
  add_test(NAME install_disk_full
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install/disk-full.sh
            $<TARGET_FILE:install_apply_win32_test> ${PROJECT_BINARY_DIR})
  set_tests_properties(install_disk_full PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
  ember_use_standin(install_disk_full)
endif()

# The install figures program for Wine (bench/install-figures builds it).
if(WIN32)
  add_executable(install_figures EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/install_figures.cpp)
  target_link_libraries(install_figures PRIVATE ember_shell)
endif()

# Self-update against the stand-in service (its build download and faults).
if(WIN32)
  ember_use_standin(install_self_update_win32_test TARGET install_self_update_win32_test)
endif()
