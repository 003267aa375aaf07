// The embedded target data is stored scrambled and turned into plain bytes
// one at a time, at the moment of use.
#pragma once

#include <cstdint>

namespace vantor {

// Start value of the counter and the mask.
inline constexpr std::uint8_t kScrambleStart = 0x00;  // S, set by the embedded data
inline constexpr std::uint8_t kScrambleMask = 0x00;   // M, set by the embedded data

// Sets the counter to its start value.
void ResetDescrambler();

// Returns the plain byte of one stored byte and advances the counter.
std::uint8_t DescrambleByte(std::uint8_t stored);

// The inverse, for building embedded data: the stored form of plain byte
// `plain` at offset `offset` of its region.
std::uint8_t ScrambleByte(std::uint8_t plain, std::uint32_t offset);

}  // namespace vantor
