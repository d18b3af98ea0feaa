# The README's scripts. The build-script test builds the program once more from scratch, so it
# runs on its own rather than beside the real-time tests.
add_test(NAME test_build_script
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/build_script_test.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(test_build_script PROPERTIES TIMEOUT 1200 RUN_SERIAL TRUE)
