marrowline_add_test(NAME test_app_settings
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_settings.cpp TIMEOUT 60)
