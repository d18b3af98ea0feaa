# End-to-end tests: two (or more) real marrowline processes on linesim lines. Split into several
# executables so that ctest -j2 runs them side by side.
add_library(marrowline_e2e STATIC ${CMAKE_CURRENT_LIST_DIR}/e2e_harness.cpp
  ${CMAKE_CURRENT_LIST_DIR}/e2e_harness.h)
target_link_libraries(marrowline_e2e PUBLIC marrowline_testsupport)

foreach(group harness transfer refusals faults commands multi peers noise security hostile)
  marrowline_add_test(NAME test_e2e_${group}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_${group}_test.cpp
    LIBS marrowline_e2e
    TIMEOUT 240)
endforeach()

# Modem calls through linesim's exchange. The unanswered call waits out the client's one-minute
# dial time-out, so it is a test of its own that ctest -j2 runs beside the others.
marrowline_add_test(NAME test_e2e_modem
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_modem_test.cpp ${CMAKE_CURRENT_LIST_DIR}/e2e_modem_setup.h
  LIBS marrowline_e2e
  TIMEOUT 240)
marrowline_add_test(NAME test_e2e_modem_noanswer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_modem_noanswer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/e2e_modem_setup.h
  LIBS marrowline_e2e
  TIMEOUT 240)

# Processes killed at random over a paced cable: as long as the slowest of the transfers it lets
# through between kills.
marrowline_add_test(NAME test_e2e_kills
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_kills_test.cpp
  LIBS marrowline_e2e
  TIMEOUT 600)
