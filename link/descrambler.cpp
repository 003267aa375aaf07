#include "link/descrambler.h"

namespace vantor {
namespace {

// The counter; every user resets it before its first byte.
std::uint8_t g_counter = kScrambleStart;

}  // namespace

void ResetDescrambler() {
  g_counter = kScrambleStart;
}

std::uint8_t DescrambleByte(std::uint8_t stored) {
  const unsigned x = static_cast<std::uint8_t>(stored - g_counter) ^ kScrambleMask;
  const auto plain = static_cast<std::uint8_t>((x >> 1) | (x << 7));
  g_counter = static_cast<std::uint8_t>(g_counter + 1);
  return plain;
}

std::uint8_t ScrambleByte(std::uint8_t plain, std::uint32_t offset) {
  const unsigned rotated = static_cast<std::uint8_t>((plain << 1) | (plain >> 7));
  return static_cast<std::uint8_t>((rotated ^ kScrambleMask) + kScrambleStart + offset);
}

}  // namespace vantor
