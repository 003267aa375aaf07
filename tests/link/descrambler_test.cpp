// The descrambler, the device profile and the embedded data it carries.
#include "link/descrambler.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/device_profile.h"

namespace vantor {
namespace {

TEST(Descrambler, CounterAdvancesWithEachByteAndResetRepeatsTheFirstResult) {
  ResetDescrambler();
  const std::uint8_t first = DescrambleByte(0x3C);
  const std::uint8_t second = DescrambleByte(0x3C);
  EXPECT_NE(first, second);
  ResetDescrambler();
  EXPECT_EQ(DescrambleByte(0x3C), first);
}

TEST(Descrambler, TwoHundredFiftySixBytesBringTheCounterBack) {
  ResetDescrambler();
  const std::uint8_t first = DescrambleByte(0xA7);
  for (int i = 1; i < 256; ++i) DescrambleByte(0xA7);
  EXPECT_EQ(DescrambleByte(0xA7), first);
}

TEST(Descrambler, ScrambleThenDescrambleGivesEveryByteBackAcrossTheWrap) {
  // 1024 bytes: every value four times, the counter wrapping four times.
  std::vector<std::uint8_t> plain(1024);
  for (std::size_t j = 0; j < plain.size(); ++j)
    plain[j] = static_cast<std::uint8_t>(j * 7 + j / 256);
  std::vector<std::uint8_t> stored(plain.size());
  for (std::size_t j = 0; j < plain.size(); ++j)
    stored[j] = ScrambleByte(plain[j], static_cast<std::uint32_t>(j));
  ResetDescrambler();
  for (std::size_t j = 0; j < plain.size(); ++j)
    ASSERT_EQ(DescrambleByte(stored[j]), plain[j]) << j;
}

TEST(Descrambler, ScrambledBytesDoNotLookLikePlainOnes) {
  // A run of one value must not survive scrambling, and the mask and start
  // value must both do something: no value maps to itself at offset 0.
  int unchanged = 0;
  for (unsigned p = 0; p < 256; ++p) {
    if (ScrambleByte(static_cast<std::uint8_t>(p), 0) == p) ++unchanged;
  }
  EXPECT_LE(unchanged, 2);
  EXPECT_NE(ScrambleByte(0x00, 0), ScrambleByte(0x00, 1));
  EXPECT_NE(kScrambleMask, 0);
  EXPECT_NE(kScrambleStart, 0);
}

TEST(DeviceProfile, HoldsTheH8S2215Figures) {
  EXPECT_EQ(kDeviceProfile.flashBase, 0u);
  EXPECT_EQ(kDeviceProfile.flashSize, 0x40000u);
  EXPECT_EQ(kDeviceProfile.writeUnit, 128u);
  EXPECT_EQ(kDeviceProfile.embeddedSize, 1444u);
  EXPECT_STREQ(kDeviceProfile.deviceName, "H8S/2215");
  EXPECT_EQ(kDeviceProfile.deviceName[15], '\0');  // zero-padded
  EXPECT_EQ(kDeviceProfile.clockDivisor, 3u);
  EXPECT_EQ(kDeviceProfile.presetDivisor, 512u);
  ASSERT_NE(kDeviceProfile.embeddedData, nullptr);
}

}  // namespace
}  // namespace vantor
