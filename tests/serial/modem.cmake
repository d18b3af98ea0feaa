marrowline_add_test(NAME modem_text_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/modem_text_test.cpp TIMEOUT 60)
marrowline_add_test(NAME modem_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/modem_test.cpp ${CMAKE_CURRENT_LIST_DIR}/modem_peer.cpp
          ${CMAKE_CURRENT_LIST_DIR}/modem_peer.h
  LIBS util TIMEOUT 120)
