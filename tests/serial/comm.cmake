marrowline_add_test(NAME comm_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm_test.cpp
  LIBS util TIMEOUT 240)
