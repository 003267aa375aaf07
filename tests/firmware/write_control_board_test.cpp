// The write-control program on the virtual board, driven through the
// writer's own link code over the in-process line ("sim"): the boot
// exchange, identification, the clock set-up, write mode and the block
// commands, with the flash controller checking every step of the procedure.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "board/sim_transport.h"
#include "image/load_image.h"
#include "link/boot_mode.h"
#include "link/clock_setup.h"
#include "link/serial_link.h"
#include "link/target_commands.h"

namespace vantor {
namespace {

namespace d = board::device;

struct BoardCase {
  std::uint32_t clockHz;
  std::uint32_t loadAddress;
};

class WriteControlTest : public ::testing::Test {
 protected:
  void StartBoard(std::uint32_t clockHz, std::uint32_t loadAddress) {
    board::ResetSimBoard();
    board::SetSimBoardClock(clockHz);
    board::SetSimBoardLoadAddress(loadAddress);
    SetTransportSelector(board::SimTransportFor);
    std::memset(LoadImage, 0xFF, kLoadImageSize);
    ASSERT_EQ(OpenPort("sim", 9600, 'N', 8, 1.0f), kOk);
    ASSERT_EQ(StartBootMode(), kOk);
    ASSERT_EQ(TransferWriteControlProgram(), kOk);
    ASSERT_EQ(WaitEraseComplete(), kOk);
  }

  void TearDown() override {
    ClosePort();
    board::SetSimBoardLoadAddress(d::kDefaultLoadAddress);
    board::SetSimBoardClock(d::kDefaultClockHz);
    board::ResetSimBoard();
    std::memset(LoadImage, 0xFF, kLoadImageSize);
  }

  static board::H8s2215Chip& Chip() { return board::SimBoard(); }

  static void Configure() {
    ASSERT_EQ(CheckTargetId(), kOk);
    ASSERT_EQ(SetupClockParameters(), kOk);
    ASSERT_EQ(EnterWriteMode(), kOk);
  }

  // Sends bytes as they are and collects up to `count` reply bytes, each
  // waited for as the command reply wait does (1000 reads).
  static std::vector<std::uint8_t> Exchange(std::initializer_list<std::uint8_t> bytes,
                                            unsigned count) {
    return Exchange(std::vector<std::uint8_t>(bytes), count);
  }
  static std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& bytes,
                                            unsigned count) {
    for (const std::uint8_t b : bytes) EXPECT_EQ(SendByte(b), kOk);
    std::vector<std::uint8_t> reply;
    for (unsigned tries = 0; reply.size() < count && tries < 1000; ++tries) {
      std::uint8_t b = 0;
      if (ReceiveByte(b) == kOk) reply.push_back(b);
    }
    return reply;
  }

  // A block command as the wire carries it, with a chosen checksum offset.
  static std::vector<std::uint8_t> BlockAt(std::uint32_t address, std::uint8_t fill,
                                           int sumError = 0) {
    std::vector<std::uint8_t> bytes = {
        0xC3, static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
        static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    bytes.insert(bytes.end(), 128, fill);
    bytes.push_back(static_cast<std::uint8_t>(fill * 128 + sumError));
    return bytes;
  }

  static void FillImage(std::uint32_t address, std::uint32_t seed) {
    for (std::uint32_t i = 0; i < 128; ++i) {
      LoadImage[address + i] = static_cast<std::uint8_t>((i * 37 + seed * 11 + 5) ^ (i >> 3));
    }
  }

  static bool FlashMatchesImage(std::uint32_t address) {
    return std::memcmp(Chip().Flash().Contents().data() + address, LoadImage + address, 128) == 0;
  }

  static std::string Violations() { return Chip().Flash().Report(); }
};

class WriteControlAtClock : public WriteControlTest,
                            public ::testing::WithParamInterface<BoardCase> {};

// The whole road of a write at each clock and load address: every block
// lands, slow cells that need the long pulses of the later tries take, and
// the flash controller saw no breach of the procedure.
TEST_P(WriteControlAtClock, WritesBlocksWithinTheProcedure) {
  StartBoard(GetParam().clockHz, GetParam().loadAddress);

  // The clock inquiry reports the boot ROM's bit-rate setting.
  board::Sci& sci = Chip().BootSci();
  const std::uint8_t brr = sci.Read(d::kSciBrr, Chip().Now());
  const std::uint8_t cks = sci.Read(d::kSciSmr, Chip().Now()) & 3;
  EXPECT_EQ(Exchange({0xC5}, 5), (std::vector<std::uint8_t>{brr, cks, 0x00, 0x20, 0x80}));

  Configure();
  FillImage(0x0000, 1);
  FillImage(0x0080, 2);
  FillImage(0x1000, 3);
  FillImage(0x3FF80, 4);
  Chip().Flash().NeedsPulses(0x1005, 9);  // past the six short tries
  Chip().Flash().NeedsPulses(0x1006, 2);

  EXPECT_EQ(WriteBlockAt(0x0000), kOk);
  EXPECT_EQ(WriteNextBlock(0x0080), kOk);
  EXPECT_EQ(WriteBlockAt(0x1000), kOk);
  EXPECT_EQ(WriteBlockAt(0x3FF80), kOk);

  for (const std::uint32_t a : {0x0000u, 0x0080u, 0x1000u, 0x3FF80u}) {
    EXPECT_TRUE(FlashMatchesImage(a)) << std::hex << a;
  }
  EXPECT_EQ(Chip().Flash().Contents()[0x0100], 0xFF);  // nothing beyond the blocks
  EXPECT_EQ(Violations(), "none");
  EXPECT_EQ(Chip().WatchdogResets(), 0u);
  EXPECT_FALSE(Chip().Halted()) << Chip().HaltMessage();
  // Two blocks in one try with its additional pulse, the slow unit in nine
  // tries (six of them with an additional pulse), the last block in one.
  EXPECT_EQ(Chip().Flash().PulseCount(), 2u * 3 + 9 + 6);
}

INSTANTIATE_TEST_SUITE_P(
    ClocksAndLoadAddresses, WriteControlAtClock,
    ::testing::Values(BoardCase{4000000, 0xFFB000}, BoardCase{10000000, 0xFFC402},
                      BoardCase{16000000, 0xFFB000}, BoardCase{19968000, 0xFFB000},
                      BoardCase{19968000, 0xFFD7F0}, BoardCase{2457600, 0xFFB000}),
    [](const ::testing::TestParamInfo<BoardCase>& param) {
      return std::to_string(param.param.clockHz) + "Hz_at_" +
             std::to_string(param.param.loadAddress);
    });

}  // namespace
}  // namespace vantor
