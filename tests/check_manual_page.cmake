# Fails when groff has anything to say about the manual page.
execute_process(COMMAND ${GROFF} -ww -z -man ${PAGE}
                RESULT_VARIABLE result ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff warns about ${PAGE}:\n${warnings}")
endif()
