marrowline_add_test(NAME test_app_cmdline
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_cmdline.cpp TIMEOUT 60)
