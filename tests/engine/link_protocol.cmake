marrowline_add_test(NAME test_link_protocol SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_link_protocol.cpp)
