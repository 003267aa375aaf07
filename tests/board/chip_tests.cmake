# The chip's suites: peripherals, the boot ROM, programs on the chip, the
# in-process transport and the board program.
add_executable(chip_tests
  sci_test.cpp
  wdt_test.cpp
  flash_test.cpp
  bootrom_test.cpp
)
vantor_defaults(chip_tests)
target_link_libraries(chip_tests PRIVATE vantor_chip GTest::gtest_main)
gtest_discover_tests(chip_tests)

# The firmware's include file is generated from the device description.
add_test(NAME chip_device_inc_is_current
  COMMAND ${CMAKE_COMMAND} -DGENERATOR=$<TARGET_FILE:h8s2215_inc_generator>
          -DCOMMITTED=${PROJECT_SOURCE_DIR}/firmware/h8s2215.inc
          -DOUT=${CMAKE_CURRENT_BINARY_DIR}/h8s2215.inc
          -P ${CMAKE_CURRENT_SOURCE_DIR}/chip_compare_inc.cmake)
