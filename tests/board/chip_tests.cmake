# The chip's suites: peripherals, the boot ROM, programs on the chip, the
# in-process transport and the board program.
add_executable(chip_tests
  sci_test.cpp
  wdt_test.cpp
  flash_test.cpp
  bootrom_test.cpp
  chip_assembler.cpp
  chip_boot_helper.cpp
  chip_flash_program_test.cpp
  chip_serial_program_test.cpp
)
vantor_defaults(chip_tests)
target_compile_definitions(chip_tests PRIVATE
  VANTOR_FIRMWARE_DIR="${PROJECT_SOURCE_DIR}/firmware"
  VANTOR_BOARD_TEST_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(chip_tests PRIVATE vantor_chip GTest::gtest_main)
gtest_discover_tests(chip_tests)

# The firmware's include file is generated from the device description.
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME chip_device_inc_is_current
    COMMAND ${CMAKE_COMMAND} -DGENERATOR=$<TARGET_FILE:h8s2215_inc_generator>
            -DCOMMITTED=${PROJECT_SOURCE_DIR}/firmware/h8s2215.inc
            -DOUT=${CMAKE_CURRENT_BINARY_DIR}/h8s2215.inc
            -P ${CMAKE_CURRENT_SOURCE_DIR}/chip_compare_inc.cmake)
endif()

# The echo program the host tests send, assembled at build time (the
# Windows suite runs under Wine, where the H8/300 tools are not at hand).
find_program(VANTOR_H8300_AS h8300-hms-as)
set(_chip_echo_inc ${CMAKE_CURRENT_BINARY_DIR}/chip_echo_program.inc)
if(VANTOR_H8300_AS)
  add_custom_command(OUTPUT ${_chip_echo_inc}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/chip_echo_program.s
            -DINCDIR=${PROJECT_SOURCE_DIR}/firmware -DORIGIN=0xFFB000
            -DWORK=${CMAKE_CURRENT_BINARY_DIR}/chip_echo_program -DOUT=${_chip_echo_inc}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/chip_assemble.cmake
    DEPENDS chip_echo_program.s chip_assemble.cmake ${PROJECT_SOURCE_DIR}/firmware/h8s2215.inc
    COMMENT "Assembling the chip tests' echo program")
endif()

# The host's own code against the chip: in process through port name "sim",
# through vantor-board's pseudo-terminal with the POSIX serial back end, and
# (Windows build) through a COM port with the Win32 back end under Wine.
# This binary carries a test device profile whose program is the echo program.
add_executable(chip_host_tests
  chip_host_profile.cpp
  chip_sim_transport_test.cpp
)
if(VANTOR_H8300_AS)
  target_sources(chip_host_tests PRIVATE ${_chip_echo_inc})
  target_compile_definitions(chip_host_tests PRIVATE
    VANTOR_ECHO_PROGRAM_INC="${_chip_echo_inc}")
endif()
if(WIN32)
  target_sources(chip_host_tests PRIVATE chip_wine_board_test.cpp)
else()
  target_sources(chip_host_tests PRIVATE chip_board_program_test.cpp chip_assembler.cpp)
  add_dependencies(chip_host_tests vantor-board)
  target_compile_definitions(chip_host_tests PRIVATE
    VANTOR_BOARD_PROGRAM="$<TARGET_FILE:vantor-board>"
    VANTOR_FIRMWARE_DIR="${PROJECT_SOURCE_DIR}/firmware")
endif()
vantor_defaults(chip_host_tests)
target_link_libraries(chip_host_tests PRIVATE vantor_sim_transport GTest::gtest_main)
gtest_discover_tests(chip_host_tests)

# The chip's benchmark (release preset); kept here beside the test helpers
# it shares.
if(VANTOR_BENCH AND NOT WIN32)
  find_package(benchmark REQUIRED)
  add_executable(chip_bench
    ${PROJECT_SOURCE_DIR}/bench/chip_bench.cpp
    chip_assembler.cpp
    chip_boot_helper.cpp
    chip_host_profile.cpp
  )
  if(VANTOR_H8300_AS)
    target_sources(chip_bench PRIVATE ${_chip_echo_inc})
    target_compile_definitions(chip_bench PRIVATE VANTOR_ECHO_PROGRAM_INC="${_chip_echo_inc}")
  endif()
  target_compile_definitions(chip_bench PRIVATE VANTOR_FIRMWARE_DIR="${PROJECT_SOURCE_DIR}/firmware")
  vantor_defaults(chip_bench)
  target_link_libraries(chip_bench PRIVATE vantor_sim_transport benchmark::benchmark)
endif()

# Whole writes through the product's write operation on the in-process
# board, with the real write-control program: the matrix of images, clocks,
# load addresses and faults.
add_executable(whole_write_tests whole_write_test.cpp)
vantor_defaults(whole_write_tests)
target_link_libraries(whole_write_tests PRIVATE vantor_app vantor_sim_transport GTest::gtest_main)
# And one through the POSIX serial back end to vantor-board's pseudo-terminal.
if(NOT WIN32)
  target_sources(whole_write_tests PRIVATE whole_write_pty_test.cpp)
  add_dependencies(whole_write_tests vantor-board)
  target_compile_definitions(whole_write_tests PRIVATE
    VANTOR_BOARD_PROGRAM="$<TARGET_FILE:vantor-board>")
endif()
gtest_discover_tests(whole_write_tests PROPERTIES TIMEOUT 300)
