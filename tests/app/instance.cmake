marrowline_add_test(NAME test_app_instance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_instance.cpp TIMEOUT 180)
