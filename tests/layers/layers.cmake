# The layer check itself, on copies of the source tree with one break each.
if(NOT WIN32)
  add_test(NAME layers_check_test COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/check_layers_test.py)
endif()
