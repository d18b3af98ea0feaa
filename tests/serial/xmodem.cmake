# The XMODEM engine: framing pieces on their own, then whole transfers over pseudo-terminals.
marrowline_add_test(NAME xmodem_units SOURCES ${CMAKE_CURRENT_LIST_DIR}/xmodem_units_test.cpp
  TIMEOUT 60)
marrowline_add_test(NAME xmodem_transfer SOURCES ${CMAKE_CURRENT_LIST_DIR}/xmodem_transfer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/xmodem_line_helpers.h TIMEOUT 600)
