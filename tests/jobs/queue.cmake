marrowline_add_test(NAME test_queue SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_queue.cpp)
