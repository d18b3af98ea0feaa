marrowline_add_test(NAME test_status SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_status.cpp)
