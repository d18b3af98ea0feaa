marrowline_add_test(NAME modem_text_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/modem_text_test.cpp TIMEOUT 60)
