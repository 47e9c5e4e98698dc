# Install tests under Wine: the stand-in service for the apply test, the
# stand-in game builds and loader for the game test.
include(${PROJECT_SOURCE_DIR}/tests/net/standin_fixture.cmake)
if(WIN32)
  ember_use_standin(install_apply_win32_test TARGET install_apply_win32_test)
  target_compile_definitions(install_game_win32_test PRIVATE
    EMBER_FIXTURES_DIR="Z:${PROJECT_BINARY_DIR}/fixtures")
  add_dependencies(install_game_win32_test standin_fixtures)
endif()
