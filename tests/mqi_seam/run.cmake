# Configures, builds and runs the seam program against the MQI library
# MQI_LIBRARY, on a queue made with the localqm program LOCALQM, and checks
# that the message reached the queue's messages file.
#   cmake -DSOURCE=... -DWORK=... -DLOCALQM=... -DMQI_LIBRARY=...
#         -DGENERATOR=... -DCXX=... [-DFLAGS=...] -P run.cmake
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
set(root "${WORK}/qmgrs")
run("localqm create" "${LOCALQM}" --root "${root}" create SEAM --default)
run("localqm define" "${LOCALQM}" --root "${root}" define SEAM Q1)
run("configuring the seam program" "${CMAKE_COMMAND}" -S "${SOURCE}"
    -B "${WORK}/build" -G "${GENERATOR}" "-DCMAKE_CXX_COMPILER=${CXX}"
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}"
    "-DMQI_LIBRARY=${MQI_LIBRARY}")
run("building the seam program" "${CMAKE_COMMAND}" --build "${WORK}/build")
set(text "through the seam")
run("seam_put" "${CMAKE_COMMAND}" -E env "LOCALQM_ROOT=${root}"
    "${WORK}/build/seam_put" Q1 "${text}")
message(STATUS "${last_output}")

file(SIZE "${root}/SEAM.qmgr/Q1.queue/messages" size)
string(LENGTH "${text}" length)
math(EXPR expected "4 + 428 + ${length}")
if(NOT size EQUAL expected)
  message(FATAL_ERROR "the messages file holds ${size} bytes, not ${expected}")
endif()
run("localqm browse" "${LOCALQM}" --root "${root}" browse SEAM Q1)
if(NOT last_output MATCHES "Data +\"${text}\"")
  message(FATAL_ERROR "browse does not show the message:\n${last_output}")
endif()
