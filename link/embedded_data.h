// The embedded target data, stored scrambled (descrambler.h): the 512-byte
// clock parameter table, then the write-control program; and apart from
// them the rate switch, the 128-byte unit the program runs with 0xCB to move
// the line to a faster rate. Generated into embedded_data.cpp by
// firmware/tools/make_embedded_data.
#pragma once

#include <cstdint>

namespace vantor {

inline constexpr std::uint32_t kEmbeddedDataSize = 1444;

extern const std::uint8_t kEmbeddedData[kEmbeddedDataSize];

inline constexpr std::uint32_t kRateSwitchSize = 128;
// Where the writer puts the new setting in the rate switch: SMR (the clock
// select), then BRR.
inline constexpr std::uint32_t kRateSwitchSettingOffset = 2;

extern const std::uint8_t kEmbeddedRateSwitch[kRateSwitchSize];

}  // namespace vantor
