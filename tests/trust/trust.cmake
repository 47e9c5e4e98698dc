# The signature figures program for Wine (bench/verify-figures builds it).
if(WIN32)
  add_executable(verify_figures EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/verify_figures.cpp)
  target_link_libraries(verify_figures PRIVATE ember_trust ember_formats ember_base)
  target_include_directories(verify_figures PRIVATE ${PROJECT_SOURCE_DIR})
endif()
