marrowline_add_test(NAME rem_engine_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/rem_engine_test.cpp TIMEOUT 240)
marrowline_add_test(NAME rem_engine_modem_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rem_engine_modem_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/../serial/modem_peer.cpp
  LIBS util TIMEOUT 120)
