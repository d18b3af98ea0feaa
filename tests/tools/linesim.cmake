# The line simulator, run as a process over real pseudo-terminals.
marrowline_add_test(NAME test_linesim
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/linesim_test.cpp
  TIMEOUT 180)
