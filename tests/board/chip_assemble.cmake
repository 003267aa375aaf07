# Assembles one test program of ours at build time into a C array body.
# -DSOURCE=... -DINCDIR=... -DORIGIN=0x... -DWORK=... -DOUT=...
file(MAKE_DIRECTORY ${WORK})
file(READ ${SOURCE} body)
file(WRITE ${WORK}/p.s "\t.h8300s\n\t.include \"h8s2215.inc\"\n\t.text\n${body}\n")
file(WRITE ${WORK}/p.x "OUTPUT_FORMAT(\"coff-h8300\")\nOUTPUT_ARCH(h8300s)\nSECTIONS { . = ${ORIGIN}; .text : { *(.text) *(.data) } }\n")
foreach(step
    "h8300-hms-as;-I;${INCDIR};p.s;-o;p.o"
    "h8300-hms-ld;-m;h8300s;-T;p.x;-o;p.out;p.o"
    "h8300-hms-objcopy;-O;binary;p.out;p.bin")
  execute_process(COMMAND ${step} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "assembling ${SOURCE} failed at: ${step}")
  endif()
endforeach()
file(READ ${WORK}/p.bin hex HEX)
string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
file(WRITE ${OUT} "${bytes}\n")
