# RUNNER: what runs a cross-built generator (Wine for the Windows build).
execute_process(COMMAND ${RUNNER} ${GENERATOR} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_examples failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${EXPECTED} ${OUTPUT}
                RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "examples/messages.buf differs from what make_examples writes; rerun it")
endif()
