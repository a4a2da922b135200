# Runs PROGRAM with ARGUMENTS (a ;-list) and fails unless it exits 0 and its
# standard output matches EXPECT.
execute_process(COMMAND ${PROGRAM} ${ARGUMENTS} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
string(STRIP "${output}" output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENTS} exited with ${status}:\n${output}${errors}")
endif()
if(NOT output MATCHES "${EXPECT}")
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENTS} printed:\n${output}\nnot matching: ${EXPECT}")
endif()
