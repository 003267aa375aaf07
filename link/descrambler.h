// The embedded target data is stored scrambled and turned into plain bytes
// one at a time, at the moment of use.
//
// A region (the clock parameter table, the write-control program) is walked
// from its first byte straight after a reset, so the byte at offset j of a
// region is descrambled with the counter at (S + j) mod 256:
//   plain  = rotate_right_1((stored - counter) XOR M)
//   stored = (rotate_left_1(plain) XOR M) + counter
#pragma once

#include <cstdint>

namespace vantor {

// S, the counter's start value, and M, the mask. The embedded data
// (embedded_data.cpp) is generated with these; change them only together
// with a regeneration (firmware/tools/make_embedded_data).
inline constexpr std::uint8_t kScrambleStart = 0xB7;
inline constexpr std::uint8_t kScrambleMask = 0x5C;

// Sets the counter to its start value.
void ResetDescrambler();

// Returns the plain byte of one stored byte and advances the counter.
std::uint8_t DescrambleByte(std::uint8_t stored);

// The inverse, for building embedded data: the stored form of plain byte
// `plain` at offset `offset` of its region. Keeps no state.
std::uint8_t ScrambleByte(std::uint8_t plain, std::uint32_t offset);

}  // namespace vantor
