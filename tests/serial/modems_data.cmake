marrowline_add_test(NAME test_modems_data SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_modems_data.cpp)
