// The block stream (the write-control program's second part for the fast
// line) on the virtual board, driven through the writer's own link code:
// loaded with 0xCB, then blocks that overlap the programming of the unit
// before, the end with the whole flash's CRC-32, the ways out. The flash
// controller checks every step of the procedure, and the SCI counts every
// byte the program failed to take in time (an overrun).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "board/sim_transport.h"
#include "image/crc32.h"
#include "image/load_image.h"
#include "link/block_stream.h"
#include "link/boot_mode.h"
#include "link/clock_setup.h"
#include "link/line_rate.h"
#include "link/serial_link.h"
#include "link/target_commands.h"

namespace vantor {
namespace {

namespace d = board::device;

class BlockStreamTest : public ::testing::Test {
 protected:
  // A fresh board at the clock and load address, booted, configured, in
  // write mode and switched to the fastest setting (BRR 0: phi / 32) unless
  // `rate` says another; `prepare` may change the board before power-on.
  void StartBoard(std::uint32_t clockHz, std::uint32_t loadAddress = d::kDefaultLoadAddress,
                  const std::function<void(board::H8s2215Chip&)>& prepare = {},
                  std::uint32_t rate = 0) {
    board::ResetSimBoard();
    board::SetSimBoardClock(clockHz);
    board::SetSimBoardLoadAddress(loadAddress);
    if (prepare) prepare(Chip());
    SetTransportSelector(board::SimTransportFor);
    ASSERT_EQ(OpenPort("sim", 9600, 'N', 8, 1.0f), kOk);
    ASSERT_EQ(StartBootMode(), kOk);
    ASSERT_EQ(TransferWriteControlProgram(), kOk);
    ASSERT_EQ(WaitEraseComplete(), kOk);
    ASSERT_EQ(CheckTargetId(), kOk);
    ASSERT_EQ(SetupClockParameters(), kOk);
    ASSERT_EQ(EnterWriteMode(), kOk);
    LineRatePlan plan;
    plan.rate = rate != 0 ? rate : clockHz / 32;
    ASSERT_TRUE(ChipSettingFor(clockHz, plan.rate, plan.setting));
    bool fellBack = true;
    ASSERT_EQ(SwitchLineRate(plan, fellBack), kOk);
    ASSERT_FALSE(fellBack);
  }

  void SetUp() override { std::memset(LoadImage, 0xFF, kLoadImageSize); }

  void TearDown() override {
    if (HasFailure()) {
      std::printf("board: pc H'%06X, %s\n", static_cast<unsigned>(Chip().Core().pc()),
                  Chip().Halted() ? Chip().HaltMessage().c_str() : "running");
    }
    ClosePort();
    ResetLineRate();
    board::SetSimBoardLoadAddress(d::kDefaultLoadAddress);
    board::SetSimBoardClock(d::kDefaultClockHz);
    board::ResetSimBoard();
    std::memset(LoadImage, 0xFF, kLoadImageSize);
  }

  static board::H8s2215Chip& Chip() { return board::SimBoard(); }

  static void RandomBlock(std::uint32_t address, std::mt19937& random) {
    for (std::uint32_t i = 0; i < 128; ++i) {
      LoadImage[address + i] = static_cast<std::uint8_t>(random());
    }
  }

  // The image's non-blank blocks through the stream, as the writer sends
  // them; the CRC the end brings back. Returns the first failure.
  static ErrorCode StreamImage(bool withCrc, std::uint32_t& crc) {
    if (const ErrorCode code = StartBlockStream(); code != kOk) return code;
    std::uint32_t previous = 0;
    bool programming = false;
    for (std::uint32_t address = 0; address < d::kFlashSize; address += 128) {
      if (IsBlankBlock(address)) continue;
      if (programming) {
        if (const ErrorCode code = AwaitStreamNext(); code != kOk) return code;
      }
      if (const ErrorCode code = SendStreamBlock(address, address == previous + 128); code != kOk) {
        return code;
      }
      if (programming) {
        if (const ErrorCode code = AwaitStreamWritten(); code != kOk) return code;
      }
      programming = true;
      previous = address;
    }
    if (programming) {
      if (const ErrorCode code = AwaitStreamNext(); code != kOk) return code;
    }
    if (const ErrorCode code = SendStreamEnd(withCrc); code != kOk) return code;
    if (programming) {
      if (const ErrorCode code = AwaitStreamWritten(); code != kOk) return code;
    }
    return withCrc ? AwaitStreamCrc(crc) : AwaitStreamEnded();
  }

  static bool FlashHoldsTheImage() {
    return std::memcmp(Chip().Flash().Contents().data(), LoadImage, d::kFlashSize) == 0;
  }
  static std::string Violations() { return Chip().Flash().Report().substr(0, 400); }
};

TEST_F(BlockStreamTest, WritesBlocksAndReturnsTheFlashCrc) {
  StartBoard(19968000);
  std::mt19937 random(1);
  for (const std::uint32_t address : {0x0u, 0x80u, 0x100u, 0x2000u, 0x3FF80u}) {
    RandomBlock(address, random);
  }
  std::uint32_t crc = 0;
  ASSERT_EQ(StreamImage(true, crc), kOk);
  EXPECT_TRUE(FlashHoldsTheImage());
  EXPECT_EQ(crc, Crc32(LoadImage, d::kFlashSize));
  EXPECT_EQ(Violations(), "none");
  EXPECT_EQ(Chip().BootSci().OverrunCount(), 0u);
  EXPECT_EQ(CheckTargetId(), kOk);  // the command loop again
}

}  // namespace
}  // namespace vantor
