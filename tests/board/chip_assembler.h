// Assembles small H8S test programs with the H8/300 binutils at test time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantor::board::testing {

// Whether h8300-hms-as, -ld and -objcopy are on the PATH.
bool AssemblerAvailable();

// Assembles `source` (".h8300s" and the firmware's include file are put in
// front of it) for address `origin` and returns the flat image. On failure
// returns an empty vector and the tools' messages in `errors`.
std::vector<std::uint8_t> Assemble(const std::string& source, std::uint32_t origin,
                                   std::string& errors);

}  // namespace vantor::board::testing
