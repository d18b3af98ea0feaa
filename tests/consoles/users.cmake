marrowline_add_test(NAME test_users SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_users.cpp)
