marrowline_add_test(NAME test_received_file
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_received_file.cpp)
