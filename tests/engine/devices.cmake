marrowline_add_test(NAME test_devices SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_devices.cpp)
