// The host tests of the chip send a small program of ours in place of the
// write-control program: this test binary carries its own device profile,
// whose embedded data is the clock table (unused here) and our echo program
// (chip_echo_program.s, assembled when the build is configured), scrambled
// as the host expects.
#pragma once

#include <cstdint>

namespace vantor::board::testing {

// Bytes of program the test profile carries (the echo program, padded).
inline constexpr std::uint32_t kHostProgramSize = 256;

// Stores the echo program, scrambled, in the test profile's embedded data.
// False when the build had no H8/300 assembler to make it.
bool PrepareEchoProfile();

}  // namespace vantor::board::testing
