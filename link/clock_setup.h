// Configures the write-control program for the chip's clock: 0xC5 asks for
// the clock, then every entry of the clock parameter table is computed and
// written with 0xCA.
#pragma once

#include <cstdint>

#include "common/error_code.h"

namespace vantor {

// Walks the clock parameter table of the device profile's embedded data.
// 0, 212/213 (a send failed), 302 (a reply byte of the inquiry did not come),
// 303 (the inquiry did not end with 0x80).
ErrorCode SetupClockParameters();

// The same walk over another scrambled table of 512 bytes (the embedded
// data's layout). SetupClockParameters passes the profile's table.
ErrorCode SetupClockParametersFrom(const std::uint8_t* scrambledTable);

// The clock t in hertz of the last complete 0xC5 reply, 0 before one came.
// The chip's rate arithmetic (line_rate.h) starts from it.
std::uint32_t ReportedClockHz();

inline constexpr unsigned kClockReplyReadLimit = 1000;
inline constexpr unsigned kClockTableEntries = 64;

}  // namespace vantor
