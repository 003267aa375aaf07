// The host tests of the chip send a small program of ours in place of the
// write-control program: this test binary carries its own device profile,
// whose embedded data is the clock table (unused here) and that program,
// scrambled as the host expects.
#pragma once

#include <cstdint>
#include <string>

namespace vantor::board::testing {

// Bytes of program the test profile carries (the echo program, padded).
inline constexpr std::uint32_t kHostProgramSize = 256;

// Assembles the echo program for the boot channel and stores it, scrambled,
// in the test profile's embedded data. False (with the tools' messages in
// `errors`) when it cannot be assembled.
bool PrepareEchoProfile(std::string& errors);

}  // namespace vantor::board::testing
