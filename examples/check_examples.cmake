# Fails when the committed example files differ from what the generator
# writes now. Variables: TOOL (the generator), SOURCE (examples/), OUT (scratch).
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${TOOL} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the generator failed: ${rc}")
endif()
foreach(name example.mot example.qpf)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SOURCE}/${name} ${OUT}/${name}
                  RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "examples/${name} is out of date: run scripts/make-examples")
  endif()
endforeach()
