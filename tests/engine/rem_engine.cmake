marrowline_add_test(NAME rem_engine_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/rem_engine_test.cpp TIMEOUT 240)
