marrowline_add_test(NAME host_engine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_engine_test.cpp TIMEOUT 240)
