# The scripted modem of the serial tests plays the server's modem.
marrowline_add_test(NAME host_engine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_engine_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/../serial/modem_peer.cpp
          ${CMAKE_CURRENT_LIST_DIR}/../serial/modem_peer.h
  LIBS util TIMEOUT 240)
