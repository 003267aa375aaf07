// The host's CRC-32 against values computed by zlib.
#include "image/crc32.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantor {
namespace {

TEST(Crc32Test, MatchesZlibWholeAndInParts) {
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc32(check, sizeof check), 0xCBF43926u);
  EXPECT_EQ(Crc32(nullptr, 0), 0u);

  // The whole erased flash, and every byte value in turn over 256 KiB.
  const std::vector<std::uint8_t> erased(0x40000, 0xFF);
  EXPECT_EQ(Crc32(erased.data(), erased.size()), 0xB7094978u);
  std::vector<std::uint8_t> ramp(0x40000);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(Crc32(ramp.data(), ramp.size()), 0xC790BFF6u);
  const std::uint32_t first = Crc32(ramp.data(), 1000);
  EXPECT_EQ(Crc32(ramp.data() + 1000, ramp.size() - 1000, first), 0xC790BFF6u);
}

}  // namespace
}  // namespace vantor
