# Runs a test program whose report goes to a file, then shows the report:
# Qt Test on Windows writes to the debugger, not to stdout, when it has no
# console, which is how it runs under Wine.
#   cmake -DEXE=... [-DEMULATOR=...] -DLOG=... -P logged-run.cmake
file(REMOVE "${LOG}")
execute_process(COMMAND ${EMULATOR} "${EXE}" -o "${LOG},txt" RESULT_VARIABLE status)
if(EXISTS "${LOG}")
  file(READ "${LOG}" report)
  message("${report}")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${EXE}: exit status ${status}")
endif()
