# The manual page as plain text with CR LF line ends, for Notepad:
# cmake -DGROFF=... -DPAGE=... -DOUT=... -P manual-text.cmake
execute_process(COMMAND ${GROFF} -t -man -Tascii -P-c -P-b -P-u -P-o ${PAGE}
  OUTPUT_VARIABLE text RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "groff could not set ${PAGE}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
