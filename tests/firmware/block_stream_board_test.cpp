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
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "board/sim_transport.h"
#include "image/crc32.h"
#include "image/load_image.h"
#include "link/block_stream.h"
#include "link/boot_mode.h"
#include "link/clock_setup.h"
#include "link/descrambler.h"
#include "link/embedded_data.h"
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
    ASSERT_NO_FATAL_FAILURE(BootAndConfigure());
    ASSERT_EQ(EnterWriteMode(), kOk);
    LineRatePlan plan;
    plan.rate = rate != 0 ? rate : clockHz / 32;
    ASSERT_TRUE(ChipSettingFor(clockHz, plan.rate, plan.setting));
    bool fellBack = true;
    ASSERT_EQ(SwitchLineRate(plan, fellBack), kOk);
    ASSERT_FALSE(fellBack);
  }

  void SetUp() override { std::memset(LoadImage, 0xFF, kLoadImageSize); }

  // The board that is there, through the boot exchange and the clock set-up.
  static void BootAndConfigure() {
    SetTransportSelector(board::SimTransportFor);
    ASSERT_EQ(OpenPort("sim", 9600, 'N', 8, 1.0f), kOk);
    ASSERT_EQ(StartBootMode(), kOk);
    ASSERT_EQ(TransferWriteControlProgram(), kOk);
    ASSERT_EQ(WaitEraseComplete(), kOk);
    ASSERT_EQ(CheckTargetId(), kOk);
    ASSERT_EQ(SetupClockParameters(), kOk);
  }

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

  // The flash holds the load image, `crc` (the end's answer) is its CRC,
  // and the board saw no breach of the procedure and lost no byte.
  static void ExpectTheImageWritten(std::uint32_t crc) {
    EXPECT_TRUE(FlashHoldsTheImage());
    EXPECT_EQ(crc, Crc32(LoadImage, d::kFlashSize));
    EXPECT_EQ(Violations(), "none");
    EXPECT_EQ(Chip().BootSci().OverrunCount(), 0u);
  }
};

// Where the loader put the stream: the 256-byte boundary in RAM at which
// its code starts; 0 when it is nowhere.
std::uint32_t StreamAddress() {
  ResetDescrambler();
  std::uint8_t head[16];
  for (std::uint8_t& byte : head) byte = DescrambleByte(kEmbeddedBlockStream[&byte - head]);
  const std::vector<std::uint8_t>& ram = board::SimBoard().Ram();
  for (std::uint32_t at = 0; at + sizeof head <= ram.size(); at += 256) {
    if (std::memcmp(ram.data() + at, head, sizeof head) == 0) return d::kRamStart + at;
  }
  return 0;
}

struct StreamCase {
  std::uint32_t clockHz;
  std::uint32_t loadAddress;
  std::uint32_t rate;  // 0: the fastest, phi / 32
  bool streamBelowProgram;
};

void PrintTo(const StreamCase& c, std::ostream* out) {
  *out << c.clockHz << " Hz, " << (c.rate != 0 ? c.rate : c.clockHz / 32) << " bit/s, program at "
       << std::hex << c.loadAddress << std::dec;
}

class BlockStreamAtClock : public BlockStreamTest,
                           public ::testing::WithParamInterface<StreamCase> {};

// Blocks with and without their address, a unit whose slow cells need the
// long pulses of the later tries (given only once the block after it is in
// whole), the flash's last unit; every block lands, the end's CRC is the
// flash's, no byte was lost to an overrun and no rule of the procedure was
// broken, at each clock, rate and load address. Afterwards the command loop
// answers at the same rate.
TEST_P(BlockStreamAtClock, WritesWithinTheProcedureAndLosesNoByte) {
  const StreamCase& c = GetParam();
  StartBoard(c.clockHz, c.loadAddress, {}, c.rate);
  std::mt19937 random(c.clockHz);
  for (const std::uint32_t address : {0x0u, 0x80u, 0x1000u, 0x1080u, 0x2000u, 0x3FF80u}) {
    RandomBlock(address, random);
  }
  LoadImage[0x1005] = 0x00;
  LoadImage[0x1006] = 0x00;
  Chip().Flash().NeedsPulses(0x1005, 9);  // past the six short tries
  Chip().Flash().NeedsPulses(0x1006, 2);

  std::uint32_t crc = 0;
  ASSERT_EQ(StreamImage(true, crc), kOk);
  ExpectTheImageWritten(crc);
  EXPECT_EQ(Chip().BootSci().FramingErrorCount(), 0u);
  EXPECT_EQ(Chip().WatchdogResets(), 0u);
  // Five units in one try and its additional pulse, the slow one in nine.
  EXPECT_EQ(Chip().Flash().PulseCount(), 5u * 2 + 9 + 6);

  const std::uint32_t stream = StreamAddress();
  ASSERT_NE(stream, 0u);
  EXPECT_EQ(stream < c.loadAddress, c.streamBelowProgram) << std::hex << stream;
  EXPECT_EQ(CheckTargetId(), kOk);
}

INSTANTIATE_TEST_SUITE_P(
    ClocksRatesAndLoadAddresses, BlockStreamAtClock,
    // 9.8304 MHz rather than 10 MHz: see the write-control program's tests.
    ::testing::Values(
        StreamCase{19968000, 0xFFB000, 0, false}, StreamCase{16000000, 0xFFC402, 0, false},
        StreamCase{9830400, 0xFFB000, 0, false}, StreamCase{4000000, 0xFFD7F0, 0, true},
        StreamCase{2457600, 0xFFB000, 0, false}, StreamCase{19968000, 0xFFB000, 57600, false},
        StreamCase{19968000, 0xFFB180, 0, false},  // work space below it
        StreamCase{19968000, 0xFFEB5C, 0, true}),  // no room above it
    [](const ::testing::TestParamInfo<StreamCase>& param) {
      char name[48];
      std::snprintf(
          name, sizeof name, "%uHz_%ubps_at_%06X", static_cast<unsigned>(param.param.clockHz),
          static_cast<unsigned>(param.param.rate), static_cast<unsigned>(param.param.loadAddress));
      return std::string(name);
    });

// Half the flash of random bytes at the fastest setting: the blocks take
// hardly longer than their bytes on the line, both ways (each block's 130
// bytes, the ask and the answer), because the chip programs a unit while
// the next block is coming; and the CRC at the end is ready at once.
TEST_F(BlockStreamTest, BlocksTakeLittleMoreThanTheirBytesOnTheLine) {
  StartBoard(19968000);
  std::mt19937 random(5);
  for (std::uint32_t address = 0; address < d::kFlashSize / 2; address += 128) {
    RandomBlock(address, random);
  }
  const board::States start = Chip().Now();
  std::uint32_t crc = 0;
  ASSERT_EQ(StreamImage(true, crc), kOk);
  const double seconds = static_cast<double>(Chip().Now() - start) / 19968000.0;
  ExpectTheImageWritten(crc);
  // The loader and the stream's code, the blocks, the end and the answers.
  const double bytes = (1 + 128 + 1) + kBlockStreamSize + 2 + 1024.0 * (130 + 2) + 1 + 1 + 5;
  const double lineSeconds = bytes * 10 / 624000.0;
  std::printf("1024 blocks through the stream: %.3f s, the line's bytes %.3f s\n", seconds,
              lineSeconds);
  EXPECT_LT(seconds, lineSeconds * 1.10);
}

// The end without the CRC, and the command loop's 0xC7 going on after the
// stream's last unit.
TEST_F(BlockStreamTest, TheCommandLoopGoesOnAfterTheStreamsLastUnit) {
  StartBoard(19968000);
  std::mt19937 random(2);
  RandomBlock(0x4000, random);
  std::uint32_t crc = 0;
  ASSERT_EQ(StreamImage(false, crc), kOk);
  RandomBlock(0x4080, random);
  EXPECT_EQ(WriteNextBlock(0x4080), kOk);
  EXPECT_TRUE(FlashHoldsTheImage());
  EXPECT_EQ(Violations(), "none");
}

// No block at all: the end's CRC is that of a blank flash, worked out unit
// by unit in one step each; and a flash whose units are blank but for one
// byte, which the one-step path must not take for blank.
TEST_F(BlockStreamTest, CrcOfBlankAndNearlyBlankUnits) {
  for (const std::uint32_t hz : {19968000u, 2457600u}) {
    StartBoard(hz);
    ASSERT_EQ(StartBlockStream(), kOk);
    const board::States start = Chip().Now();
    ASSERT_EQ(SendStreamEnd(true), kOk);
    std::uint32_t crc = 0;
    ASSERT_EQ(AwaitStreamCrc(crc), kOk);
    EXPECT_EQ(crc, Crc32(LoadImage, d::kFlashSize));
    // Reading the flash, a longword in about nine states, and little else.
    const double seconds = static_cast<double>(Chip().Now() - start) / hz;
    std::printf("blank flash's CRC at %u Hz: %.3f s\n", static_cast<unsigned>(hz), seconds);
    EXPECT_LT(seconds * hz, 65536 * 10.0);
    ClosePort();
  }

  StartBoard(4000000);
  for (const std::uint32_t address : {0x0u, 0x1FFu, 0x2000u, 0x3FFFFu}) {
    LoadImage[address] = static_cast<std::uint8_t>(address | 1);
  }
  LoadImage[0x1000] = 0xFE;  // one bit
  std::uint32_t crc = 0;
  ASSERT_EQ(StreamImage(true, crc), kOk);
  EXPECT_TRUE(FlashHoldsTheImage());
  EXPECT_EQ(crc, Crc32(LoadImage, d::kFlashSize));
  EXPECT_EQ(Violations(), "none");
}

// The frame bytes of a block as the stream takes them.
std::vector<std::uint8_t> Frame(std::uint8_t command, std::uint32_t address, std::uint8_t fill,
                                int sumError = 0) {
  std::vector<std::uint8_t> bytes{command};
  if (command == 0xC3) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      bytes.push_back(static_cast<std::uint8_t>(address >> shift));
    }
  }
  bytes.insert(bytes.end(), 128, fill);
  bytes.push_back(static_cast<std::uint8_t>(fill * 128 + sumError));
  return bytes;
}

// Sends the bytes and collects up to `count` answers.
std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& bytes, unsigned count) {
  for (const std::uint8_t b : bytes) EXPECT_EQ(SendByte(b), kOk);
  std::vector<std::uint8_t> reply;
  for (unsigned tries = 0; reply.size() < count && tries < 300; ++tries) {
    std::uint8_t b = 0;
    if (ReceiveByte(b) == kOk) reply.push_back(b);
  }
  return reply;
}

// Refused frames: damaged (0x93), an address that is no unit of the flash
// or not above the unit before, a byte that is no frame (0x92). Nothing is
// programmed for them; the program drops what follows until the line is
// quiet, answers 0x92 there and is back in its command loop.
TEST_F(BlockStreamTest, RefusedFramesEndTheStreamAndProgramNothing) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> before;  // a good block first, or nothing
    std::vector<std::uint8_t> frame;
    std::uint8_t answer;
  };
  const std::vector<std::uint8_t> good = Frame(0xC3, 0x1000, 0x11);
  const Case cases[] = {
      {"damaged", {}, Frame(0xC3, 0x2000, 0x22, 1), 0x93},
      {"damaged continuation", {}, Frame(0xC7, 0, 0x22, -1), 0x93},
      {"not a unit", {}, Frame(0xC3, 0x2040, 0x22), 0x92},
      {"beyond the flash", {}, Frame(0xC3, 0x40000, 0x22), 0x92},
      {"below the unit before", good, Frame(0xC3, 0x0F80, 0x22), 0x92},
      {"the unit before again", good, Frame(0xC3, 0x1000, 0x22), 0x92},
      {"no frame", {}, {0x55}, 0x92},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartBoard(19968000);
    ASSERT_EQ(StartBlockStream(), kOk);
    if (!c.before.empty()) {
      EXPECT_EQ(Exchange(c.before, 1), std::vector<std::uint8_t>{kStreamNext});
    }
    std::vector<std::uint8_t> expected{c.answer};
    if (!c.before.empty()) expected.insert(expected.begin(), kStreamWritten);
    EXPECT_EQ(Exchange(c.frame, static_cast<unsigned>(expected.size())), expected);
    EXPECT_EQ(Exchange({}, 1), std::vector<std::uint8_t>{0x92});  // once the line is quiet
    EXPECT_EQ(Chip().Flash().PulseCount(), c.before.empty() ? 0u : 2u);
    EXPECT_EQ(CheckTargetId(), kOk);
    EXPECT_EQ(Violations(), "none");
    ClosePort();
  }
}

// A unit that does not take after the ask for the next block went out: the
// next block is already on its way; the program answers 0xB1 0xD5, drops
// that block whole (none of it reaches the command loop) and is back there.
// The flash's error protection during the unit's first pulse: the ask has
// gone with the pulse, the answer is 0xB1 0xD5.
TEST_F(BlockStreamTest, AUnitThatFailsEndsTheStreamWithTheNextBlockDropped) {
  StartBoard(19968000);
  std::mt19937 random(3);
  RandomBlock(0x0, random);
  RandomBlock(0x80, random);
  RandomBlock(0x100, random);
  LoadImage[0x90] = 0x00;
  Chip().Flash().NeverPrograms(0x90);
  std::uint32_t crc = 0;
  EXPECT_EQ(StreamImage(true, crc), kBlockWriteFailed);
  EXPECT_EQ(DrainReceiveBuffer(), kOk);
  SleepMilliseconds(20);
  EXPECT_EQ(DrainReceiveBuffer(), kOk);  // the 0x92 once the line was quiet
  EXPECT_EQ(CheckTargetId(), kOk);
  EXPECT_EQ(Chip().Flash().Contents()[0x100], 0xFF);  // the block after never programmed
  EXPECT_EQ(Violations(), "none");
  ClosePort();

  StartBoard(19968000);
  Chip().Flash().ErrorProtectionAtPulse(1);
  RandomBlock(0x0, random);
  ASSERT_EQ(StartBlockStream(), kOk);
  ASSERT_EQ(SendStreamBlock(0x0, false), kOk);
  EXPECT_EQ(AwaitStreamNext(), kOk);  // the ask leaves as the pulse starts
  ASSERT_EQ(SendStreamEnd(true), kOk);
  EXPECT_EQ(AwaitStreamWritten(), kBlockWriteFailed);
  EXPECT_EQ(Chip().Flash().PulseCount(), 1u);
  EXPECT_FALSE(Chip().Flash().SweSet());
}

// A cell that reads programmed at one verify and has lost its charge by the
// next is pulsed again: the stream's reprogram data comes from the data.
TEST_F(BlockStreamTest, ACellThatLosesItsChargeIsProgrammedAgain) {
  StartBoard(10000000);
  std::mt19937 random(4);
  RandomBlock(0x800, random);
  RandomBlock(0x880, random);
  LoadImage[0x810] = 0x0F;
  Chip().Flash().LosesChargeOnce(0x810);
  std::uint32_t crc = 0;
  ASSERT_EQ(StreamImage(true, crc), kOk);
  ExpectTheImageWritten(crc);
}

// The stream's code damaged on its way: 0x93 from the loader, which took
// every byte first, and the command loop goes on. Before write mode the
// stream refuses to run (0x92).
TEST_F(BlockStreamTest, ADamagedStreamIsNotRunAndNeitherIsOneBeforeWriteMode) {
  StartBoard(19968000);
  ResetDescrambler();
  std::vector<std::uint8_t> bytes{0xCB};
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < kStreamLoaderSize; ++i) {
    bytes.push_back(DescrambleByte(kEmbeddedStreamLoader[i]));
    sum = static_cast<std::uint8_t>(sum + bytes.back());
  }
  bytes.push_back(sum);
  ResetDescrambler();
  std::uint16_t codeSum = 0;
  for (std::uint32_t i = 0; i < kBlockStreamSize; ++i) {
    bytes.push_back(DescrambleByte(kEmbeddedBlockStream[i]));
    codeSum = static_cast<std::uint16_t>(codeSum + bytes.back());
  }
  bytes.push_back(static_cast<std::uint8_t>(codeSum >> 8));
  bytes.push_back(static_cast<std::uint8_t>(codeSum + 1));
  EXPECT_EQ(Exchange(bytes, 1), std::vector<std::uint8_t>{0x93});
  EXPECT_EQ(CheckTargetId(), kOk);
  ClosePort();

  board::ResetSimBoard();
  ASSERT_NO_FATAL_FAILURE(BootAndConfigure());
  EXPECT_EQ(StartBlockStream(), kBlockBadParameter);
  EXPECT_EQ(Exchange({}, 1), std::vector<std::uint8_t>{0x92});  // once the line is quiet
  EXPECT_EQ(CheckTargetId(), kOk);
}

}  // namespace
}  // namespace vantor
