// The whole conversation with a well-behaved chip, in the order the write
// operation holds it.
#include <gtest/gtest.h>

#include <cstring>

#include "image/load_image.h"
#include "link/boot_mode.h"
#include "link/clock_setup.h"
#include "link/device_profile.h"
#include "link/target_commands.h"
#include "tests/support/chip_on_fake_line.h"

namespace vantor {
namespace {

using testing::ChipOnFakeLine;
using testing::ChipPlayer;

TEST(ProtocolSequence, BootProgramClockAndBlocksReachTheChip) {
  std::memset(LoadImage, 0xFF, kLoadImageSize);
  for (std::uint32_t a = 0x100; a < 0x200; ++a) LoadImage[a] = static_cast<std::uint8_t>(a);
  LoadImage[0x3FFFF] = 0x5A;

  ChipPlayer::Options options;
  options.bitRateSilentAttempts = 3;
  options.eraseMs = 25000;
  ChipOnFakeLine s(options);

  ASSERT_EQ(StartBootMode(), kOk);
  ASSERT_EQ(TransferWriteControlProgram(), kOk);
  ASSERT_EQ(WaitEraseComplete(), kOk);
  ASSERT_EQ(CheckTargetId(), kOk);
  ASSERT_EQ(SetupClockParameters(), kOk);
  ASSERT_EQ(EnterWriteMode(), kOk);

  std::uint32_t previous = 0;
  bool sentAny = false;
  for (std::uint32_t a = 0; a < kDeviceProfile.flashSize; a += kDeviceProfile.writeUnit) {
    if (IsBlankBlock(a)) continue;
    const bool follows = sentAny && a == previous + kDeviceProfile.writeUnit;
    ASSERT_EQ(follows ? WriteNextBlock(a) : WriteBlockAt(a), kOk) << a;
    previous = a;
    sentAny = true;
  }

  EXPECT_TRUE(s.chip.ProtocolError().empty()) << s.chip.ProtocolError();
  EXPECT_EQ(s.chip.Program().size(), kDeviceProfile.embeddedSize - 512);
  EXPECT_TRUE(s.chip.Received(0xC0) && s.chip.Received(0xC5) && s.chip.WriteModeEntered());
  EXPECT_FALSE(s.chip.ParameterWrites().empty());
  EXPECT_EQ(s.chip.BlockAddresses(), (std::vector<std::uint32_t>{0x100, 0x180, 0x3FF80}));
  EXPECT_EQ(0, std::memcmp(s.chip.Image().data(), LoadImage, kLoadImageSize));
  EXPECT_EQ(s.line.Now(), 10u * (1 + 3 + 1 + 2500));  // drains, silent attempts, 25 s of erase
  std::memset(LoadImage, 0xFF, kLoadImageSize);
}

}  // namespace
}  // namespace vantor
