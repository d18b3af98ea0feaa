marrowline_add_test(NAME detect_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/detect_test.cpp LIBS util TIMEOUT 120)
