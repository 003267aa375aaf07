// Brings a chip's boot ROM through the exchange from the host's end of the
// line and starts a program, for tests that run programs on the chip.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "board/h8s2215_chip.h"

namespace vantor::board::testing {

// Sends a byte and waits up to `micros` of emulated time for one back.
std::optional<std::uint8_t> Exchange(H8s2215Chip& chip, std::uint8_t byte, double micros = 10000);

// The whole boot exchange for `program`; true when every answer was right
// and the chip reported its flash erased (the program has then started).
bool BootInto(H8s2215Chip& chip, const std::vector<std::uint8_t>& program);

}  // namespace vantor::board::testing
