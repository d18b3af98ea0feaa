marrowline_add_test(NAME test_console_jobs
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/console_jobs_test.cpp ${CMAKE_CURRENT_LIST_DIR}/console_world.h)
marrowline_add_test(NAME test_console_events
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/console_events_test.cpp ${CMAKE_CURRENT_LIST_DIR}/console_world.h
  TIMEOUT 120)
