// Emulated time on the board: counted in states of the chip's clock (phi).
#pragma once

#include <cstdint>

namespace vantor::board {

using States = std::uint64_t;

inline constexpr States kNever = ~States{0};

// Converts between states and nanoseconds at a clock of clockHz.
constexpr double StatesToNs(States states, std::uint32_t clockHz) {
  return static_cast<double>(states) * 1e9 / static_cast<double>(clockHz);
}
constexpr States NsToStates(double ns, std::uint32_t clockHz) {
  return static_cast<States>(ns * static_cast<double>(clockHz) / 1e9 + 0.5);
}

}  // namespace vantor::board
