# Regenerates the embedded data into the build tree and fails when it
# differs from the committed link/embedded_data.cpp.
#   cmake -DGENERATOR=... -DTABLE=... -DPROGRAM=... -DRATE_SWITCH=... -DSTREAM_LOADER=... -DSTREAM=... -DCOMMITTED=... -DOUT=... -P check_embedded_data.cmake
execute_process(COMMAND ${GENERATOR} ${TABLE} ${PROGRAM} ${RATE_SWITCH} ${STREAM_LOADER} ${STREAM} ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_embedded_data failed (${result})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${COMMITTED} RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} is not what make_embedded_data makes from its inputs; "
                      "rebuild the target regenerate_embedded_data and commit the result")
endif()
