# The line simulator's modem mode, run as a process over real pseudo-terminals.
marrowline_add_test(NAME test_linesim_modem
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/linesim_modem_test.cpp ${CMAKE_CURRENT_LIST_DIR}/linesim_support.h
  TIMEOUT 180)
