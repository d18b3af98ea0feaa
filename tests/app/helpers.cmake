marrowline_add_test(NAME test_app_helpers
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_helpers.cpp TIMEOUT 60)
