marrowline_add_test(NAME test_results_log SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_results_log.cpp)
