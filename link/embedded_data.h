// The embedded target data, stored scrambled (descrambler.h): the 512-byte
// clock parameter table, then the write-control program; and apart from
// them the units the program runs with 0xCB (the rate switch, which moves
// the line to a faster rate, and the block stream's loader) and the block
// stream, the program's second part for the fast line. Generated into
// embedded_data.cpp by firmware/tools/make_embedded_data.
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

// The loader unit: after it, the writer sends the block stream's bytes and
// their 16-bit sum (high byte first).
inline constexpr std::uint32_t kStreamLoaderSize = 128;
extern const std::uint8_t kEmbeddedStreamLoader[kStreamLoaderSize];

extern const std::uint32_t kBlockStreamSize;
extern const std::uint8_t kEmbeddedBlockStream[];

}  // namespace vantor
