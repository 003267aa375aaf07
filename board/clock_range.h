// The clocks the virtual board runs at, and the one sentence with which both
// vantor-board (--clock) and the console program's built-in board
// (--board-clock) refuse a clock outside them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "board/h8s2215_device.h"

namespace vantor::board {

inline bool ClockInRange(std::uint64_t hz) {
  return hz >= device::kMinClockHz && hz <= device::kMaxClockHz;
}

// "OPTION must be between 2 and 20 MHz (2000000 to 20000000 Hz)".
inline std::string ClockRangeError(const char* option) {
  char text[160];
  std::snprintf(text, sizeof text, "%s must be between %g and %g MHz (%lu to %lu Hz)", option,
                device::kMinClockHz / 1e6, device::kMaxClockHz / 1e6,
                static_cast<unsigned long>(device::kMinClockHz),
                static_cast<unsigned long>(device::kMaxClockHz));
  return text;
}

}  // namespace vantor::board
