# The generator makes COUNT records of the asked size, and the floor program
# copies them whole, record by record, with and without a flush per write.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} ended with ${status}")
  endif()
endfunction()

# count data_bytes: each record is 4 + 428 + data_bytes bytes.
foreach(case "3;10" "1;9572" "5;0" "0;512")
  list(GET case 0 count)
  list(GET case 1 data)
  set(buf ${WORK}/in_${count}_${data}.buf)
  run(${GENERATOR} ${buf} ${count} ${data})
  file(SIZE ${buf} size)
  math(EXPR expected "${count} * (432 + ${data})")
  if(NOT size EQUAL expected)
    message(FATAL_ERROR "${buf}: ${size} bytes, expected ${expected}")
  endif()
  foreach(flush "" "--fdatasync" "--fsync" "--lock")
    set(out ${WORK}/out_${count}_${data}${flush}.buf)
    run(${FLOOR} ${buf} ${out} ${flush})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${buf} ${out}
                    RESULT_VARIABLE differ)
    if(differ)
      message(FATAL_ERROR "replay_floor ${flush}: ${out} differs from ${buf}")
    endif()
  endforeach()
endforeach()

# The floor program appends to what is there, as a queue's file grows.
run(${FLOOR} ${WORK}/in_3_10.buf ${WORK}/out_5_0.buf)
file(SIZE ${WORK}/out_5_0.buf size)
math(EXPR expected "5 * 432 + 3 * 442")
if(NOT size EQUAL expected)
  message(FATAL_ERROR "appended file: ${size} bytes, expected ${expected}")
endif()

file(REMOVE_RECURSE ${WORK})
