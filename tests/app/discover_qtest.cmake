# Lists the test functions of a QtTest program and writes a CTest file that
# runs each function as a test of its own, so `ctest -j` runs them in
# parallel. Run after each build of the program (like gtest_discover_tests).
#
# Variables: TEST_EXECUTABLE, TEST_PREFIX, CTEST_FILE, TEST_LABEL, TEST_TIMEOUT.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          "${TEST_EXECUTABLE}" -functions
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE result
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Listing the tests of ${TEST_EXECUTABLE} failed:\n${errors}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(content "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
    set(function "${CMAKE_MATCH_1}")
    string(APPEND content
      "add_test([=[${TEST_PREFIX}.${function}]=] [==[${TEST_EXECUTABLE}]==] [=[${function}]=])\n"
      "set_tests_properties([=[${TEST_PREFIX}.${function}]=] PROPERTIES LABELS ${TEST_LABEL}"
      " TIMEOUT ${TEST_TIMEOUT} ENVIRONMENT QT_QPA_PLATFORM=offscreen)\n")
  endif()
endforeach()
file(WRITE "${CTEST_FILE}" "${content}")
