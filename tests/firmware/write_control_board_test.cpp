// The write-control program on the virtual board, driven through the
// writer's own link code over the in-process line ("sim"): the boot
// exchange, identification, the clock set-up, write mode and the block
// commands, with the flash controller checking every step of the procedure.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

#include "board/sim_transport.h"
#include "image/load_image.h"
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

struct BoardCase {
  std::uint32_t clockHz;
  std::uint32_t loadAddress;
};

class WriteControlTest : public ::testing::Test {
 protected:
  // A fresh board at the clock and load address; `prepare` may change the
  // board before it is powered on in boot mode.
  void StartBoard(std::uint32_t clockHz, std::uint32_t loadAddress,
                  const std::function<void(board::H8s2215Chip&)>& prepare = {}) {
    board::ResetSimBoard();
    board::SetSimBoardClock(clockHz);
    board::SetSimBoardLoadAddress(loadAddress);
    if (prepare) prepare(Chip());
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
    std::vector<std::uint8_t> bytes(1 + 4 + 128 + 1, fill);
    bytes[0] = 0xC3;
    for (unsigned i = 0; i < 4; ++i)
      bytes[1 + i] = static_cast<std::uint8_t>(address >> (24 - 8 * i));
    bytes.back() = static_cast<std::uint8_t>(fill * 128 + sumError);
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

  // The flash controller's record of breaches of the procedure, cut short.
  static std::string Violations() { return Chip().Flash().Report().substr(0, 400); }
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
    // 9.8304 MHz rather than 10 MHz: the 200 us pulse's window is 198-202 us,
    // and at 10 MHz the boot ROM's BRR for 9600 bit/s is 1.4 % off, so the
    // clock the writer computes, and every pulse, is 1.4 % long.
    ::testing::Values(BoardCase{4000000, 0xFFB000}, BoardCase{9830400, 0xFFC402},
                      BoardCase{16000000, 0xFFB000}, BoardCase{19968000, 0xFFB000},
                      BoardCase{19968000, 0xFFD7F0}, BoardCase{2457600, 0xFFB000},
                      // The highest load address whose program still fits
                      // below the boot ROM's stack reserve.
                      BoardCase{19968000, 0xFFEB5C}),
    [](const ::testing::TestParamInfo<BoardCase>& param) {
      char name[40];
      std::snprintf(name, sizeof name, "%uHz_at_%06X", static_cast<unsigned>(param.param.clockHz),
                    static_cast<unsigned>(param.param.loadAddress));
      return std::string(name);
    });

// Where the program keeps a received block before programming it: the RAM
// just after its 932 bytes.
constexpr std::uint32_t kProgramSize = 932;

std::uint8_t* ProgramRam(std::uint32_t offset) {
  board::H8s2215Chip& chip = board::SimBoard();
  return chip.Ram().data() + (chip.Options().loadAddress - d::kRamStart) + offset;
}

// The destinations of the clock parameter table the writer carries, each
// with the number of value bytes its kind sends.
struct TableEntry {
  std::uint32_t destination;
  unsigned bytes;
};

std::vector<TableEntry> TableEntries() {
  std::vector<TableEntry> out;
  ResetDescrambler();
  for (unsigned entry = 0; entry < 64; ++entry) {
    std::uint8_t e[8];
    for (unsigned i = 0; i < 8; ++i) e[i] = DescrambleByte(kEmbeddedData[entry * 8 + i]);
    const unsigned kind = e[0] << 8 | e[1];
    if (kind == 0xFFFF) break;
    const unsigned bytes = (kind == 1 || kind == 17) ? 2 : (kind == 2 || kind == 18) ? 4 : 1;
    out.push_back({static_cast<std::uint32_t>(e[4]) << 24 | e[5] << 16 | e[6] << 8 | e[7], bytes});
  }
  return out;
}

std::vector<std::uint32_t> TableDestinations() {
  std::vector<std::uint32_t> out;
  for (const TableEntry& entry : TableEntries()) out.push_back(entry.destination);
  return out;
}

// One 0xCA command for every byte the table writes, each with value 0x01
// (inside the clock range as the one-bit-time value 0x0101), leaving out
// the byte with the number `skip` (counted over the whole table).
std::vector<std::uint8_t> ParameterWritesWithout(unsigned skip) {
  std::vector<std::uint8_t> out;
  unsigned n = 0;
  for (const TableEntry& entry : TableEntries()) {
    for (unsigned i = 0; i < entry.bytes; ++i, ++n) {
      if (n == skip) continue;
      const std::uint32_t d = entry.destination + i;
      out.insert(out.end(),
                 {0xCA, static_cast<std::uint8_t>(d >> 24), static_cast<std::uint8_t>(d >> 16),
                  static_cast<std::uint8_t>(d >> 8), static_cast<std::uint8_t>(d), 0x01});
    }
  }
  return out;
}

unsigned TableBytes() {
  unsigned n = 0;
  for (const TableEntry& entry : TableEntries()) n += entry.bytes;
  return n;
}

TEST_F(WriteControlTest, BlockRepliesForRefusedBlocks) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  ASSERT_EQ(CheckTargetId(), kOk);
  // Write mode stays shut until the clock parameters have been written.
  EXPECT_EQ(Exchange({0xC1, 0x03}, 1), std::vector<std::uint8_t>{0x94});
  EXPECT_EQ(Exchange(BlockAt(0x100, 0x12), 1), std::vector<std::uint8_t>{0x92});
  ASSERT_EQ(SetupClockParameters(), kOk);
  EXPECT_EQ(Exchange({0xC1, 0x02}, 1), std::vector<std::uint8_t>{0x90});
  EXPECT_EQ(Exchange(BlockAt(0x100, 0x12), 1), std::vector<std::uint8_t>{0x92});
  ASSERT_EQ(EnterWriteMode(), kOk);

  EXPECT_EQ(Exchange(BlockAt(0x140, 0x12), 1), std::vector<std::uint8_t>{0x92});  // not aligned
  EXPECT_EQ(Exchange(BlockAt(0x40000, 0x12), 1), std::vector<std::uint8_t>{0x92});
  EXPECT_EQ(Exchange(BlockAt(0xFFFFFF80, 0x12), 1), std::vector<std::uint8_t>{0x92});
  EXPECT_EQ(Exchange(BlockAt(0x100, 0x12, 1), 1), std::vector<std::uint8_t>{0x93});
  EXPECT_EQ(Chip().Flash().PulseCount(), 0u);

  // The last unit of the flash takes; the unit after it does not exist.
  EXPECT_EQ(Exchange(BlockAt(0x3FF80, 0x12), 1), std::vector<std::uint8_t>{0x06});
  std::vector<std::uint8_t> next(1 + 128 + 1, 0x34);
  next.front() = 0xC7;
  next.back() = 0x00;
  EXPECT_EQ(Exchange(next, 1), std::vector<std::uint8_t>{0x92});

  EXPECT_EQ(Chip().Flash().Contents()[0x100], 0xFF);
  EXPECT_EQ(Chip().Flash().Contents()[0x3FF80], 0x12);
  EXPECT_EQ(Violations(), "none");
}

TEST_F(WriteControlTest, FirstContinuationBlockLandsAfterAddressZeroAndLineErrorsAreCaught) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  Configure();
  FillImage(0x80, 7);
  EXPECT_EQ(WriteNextBlock(0x80), kOk);
  EXPECT_TRUE(FlashMatchesImage(0x80));
  EXPECT_EQ(Chip().Flash().Contents()[0x00], 0xFF);

  // A byte that arrives with a framing error: sent at half the bit rate, a
  // 0x00 samples as 0x00 without its stop bit, so the sum still matches and
  // only the error can refuse the block.
  const unsigned errors = Chip().BootSci().FramingErrorCount();
  std::vector<std::uint8_t> block = BlockAt(0x400, 0x00);
  block.pop_back();
  block.pop_back();
  for (const std::uint8_t b : block) ASSERT_EQ(SendByte(b), kOk);
  Chip().SetHostBitRate(4800);
  ASSERT_EQ(SendByte(0x00), kOk);
  Chip().SetHostBitRate(9600);
  EXPECT_EQ(Exchange({0x00}, 1), std::vector<std::uint8_t>{0x93});
  EXPECT_EQ(Chip().BootSci().FramingErrorCount(), errors + 1);
  EXPECT_EQ(Chip().Flash().Contents()[0x400], 0xFF);

  // The program goes on: the same block sent cleanly is written.
  EXPECT_EQ(Exchange(BlockAt(0x400, 0x00), 1), std::vector<std::uint8_t>{0x06});
  EXPECT_EQ(Chip().Flash().Contents()[0x47F], 0x00);
  EXPECT_EQ(Violations(), "none");
}

TEST_F(WriteControlTest, CellsThatDoNotTakeFailTheBlock) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  Configure();

  // A cell that never programs: every try is spent, then 0xB1 0xD5.
  Chip().Flash().NeverPrograms(0x205);
  FillImage(0x200, 8);
  EXPECT_EQ(WriteBlockAt(0x200), kBlockWriteFailed);
  EXPECT_EQ(Chip().Flash().PulseCount(), 1000u + 6);
  EXPECT_FALSE(Chip().Flash().SweSet());

  // A bit that must stay 1 but reads 0 fails at the first verify.
  Chip().Flash().Contents()[0x305] = 0x0F;
  FillImage(0x300, 9);
  LoadImage[0x305] = 0xFF;
  EXPECT_EQ(WriteBlockAt(0x300), kBlockWriteFailed);
  EXPECT_EQ(Chip().Flash().PulseCount(), 1000u + 6 + 1);

  // Neither failure breaks the procedure or the program.
  EXPECT_EQ(Violations(), "none");
  EXPECT_EQ(CheckTargetId(), kOk);
  FillImage(0x380, 10);
  EXPECT_EQ(WriteNextBlock(0x380), kOk);
  EXPECT_TRUE(FlashMatchesImage(0x380));
}

TEST_F(WriteControlTest, WriteModeNeedsTheFlashWriteEnablePin) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  Chip().Flash().SetWriteEnablePin(false);
  ASSERT_EQ(CheckTargetId(), kOk);
  ASSERT_EQ(SetupClockParameters(), kOk);
  EXPECT_EQ(Exchange({0xC1, 0x03}, 1), std::vector<std::uint8_t>{0x91});
  EXPECT_EQ(Exchange(BlockAt(0x0, 0x55), 1), std::vector<std::uint8_t>{0x92});
  EXPECT_EQ(Chip().Flash().Contents()[0x0], 0xFF);
}

TEST_F(WriteControlTest, ParameterWritesReachOnlyTheParameterBlock) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  const std::vector<std::uint8_t> before(ProgramRam(0), ProgramRam(kProgramSize + 3 * 128));
  const std::vector<std::uint32_t> destinations = TableDestinations();
  ASSERT_FALSE(destinations.empty());

  // Outside the block: the program's code, its last byte, the RAM after it,
  // and offsets whose upper bytes are not zero. None is answered or stored.
  for (const std::uint32_t offset :
       {0x0u, 0x1u, kProgramSize - 1, kProgramSize, 0xFFFFFFFFu, destinations.front() + 0x10000u,
        destinations.front() + 0x01000000u}) {
    EXPECT_TRUE(
        Exchange(
            {0xCA, static_cast<std::uint8_t>(offset >> 24), static_cast<std::uint8_t>(offset >> 16),
             static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset), 0x5A},
            1)
            .empty());
  }
  // Bytes that are no command are dropped and answered once with 0x92.
  EXPECT_EQ(Exchange({0x00, 0x55, 0xFF, 0xC2}, 2), std::vector<std::uint8_t>{0x92});
  EXPECT_EQ(std::vector<std::uint8_t>(ProgramRam(0), ProgramRam(kProgramSize + 3 * 128)), before);

  // Every destination of the table is inside it.
  for (const std::uint32_t offset : destinations) {
    EXPECT_TRUE(Exchange({0xCA, 0, 0, static_cast<std::uint8_t>(offset >> 8),
                          static_cast<std::uint8_t>(offset), 0xA7},
                         1)
                    .empty());
    EXPECT_EQ(*ProgramRam(offset), 0xA7) << offset;
  }
  EXPECT_EQ(CheckTargetId(), kOk);
}

// The program masks interrupts itself: a boot ROM that hands over with them
// open, and a request pending (its vector in the erased flash points
// nowhere), must not take the program off its course, in either interrupt
// control mode.
TEST_F(WriteControlTest, MasksInterruptsEvenWhenTheBootRomLeavesThemOpen) {
  for (const int mode : {0, 2}) {
    StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress, [mode](board::H8s2215Chip& chip) {
      chip.SetInterruptsOpenAtStart(true);
      chip.Core().SetInterruptControlMode(mode);
    });
    Chip().Core().RaiseInterrupt(52, 5);
    EXPECT_EQ(CheckTargetId(), kOk) << "mode " << mode;
    EXPECT_FALSE(Chip().Halted()) << Chip().HaltMessage();
    EXPECT_TRUE(Chip().Core().ccr() & board::kCcrI);
    EXPECT_EQ(Chip().Core().exr() & board::kExrMask, board::kExrMask);
    ClosePort();
  }
}

// The program looks at the boot mode's channel first: another channel that
// happens to be enabled too does not take the line away.
TEST_F(WriteControlTest, UsesTheBootChannelWhenAnotherIsEnabledToo) {
  board::ResetSimBoard();
  SetTransportSelector(board::SimTransportFor);
  ASSERT_EQ(OpenPort("sim", 9600, 'N', 8, 1.0f), kOk);
  ASSERT_EQ(StartBootMode(), kOk);
  // Powered on, before the program runs: SCI0 enabled as well.
  Chip().SciChannel(0).Write(d::kSciScr, d::kScrTe | d::kScrRe, Chip().Now());
  ASSERT_EQ(TransferWriteControlProgram(), kOk);
  ASSERT_EQ(WaitEraseComplete(), kOk);
  EXPECT_TRUE(Chip().SciChannel(0).ReceiverEnabled());
  EXPECT_EQ(CheckTargetId(), kOk);
}

// Write mode is refused before any block when the clock set-up did not
// arrive whole: a lost parameter byte (the high byte of a two-byte value,
// the last byte of the table) or one damaged on the line.
TEST_F(WriteControlTest, WriteModeNeedsEveryParameterByte) {
  const unsigned bytes = TableBytes();
  ASSERT_GT(bytes, 2u);
  for (const unsigned lost : {0u, bytes - 1}) {
    StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
    EXPECT_TRUE(Exchange(ParameterWritesWithout(lost), 1).empty());
    EXPECT_EQ(Exchange({0xC1, 0x03}, 1), std::vector<std::uint8_t>{0x94}) << "lost " << lost;
    EXPECT_EQ(Exchange(BlockAt(0x100, 0x12), 1), std::vector<std::uint8_t>{0x92});
    // The missing byte arrives: now write mode opens.
    const std::vector<std::uint8_t> all = ParameterWritesWithout(bytes);
    const std::vector<std::uint8_t> one(all.begin() + 6 * lost, all.begin() + 6 * lost + 6);
    EXPECT_TRUE(Exchange(one, 1).empty());
    EXPECT_EQ(Exchange({0xC1, 0x03}, 1), std::vector<std::uint8_t>{0x80});
    ClosePort();
  }

  // A value byte that comes with a framing error is not stored.
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  std::vector<std::uint8_t> writes = ParameterWritesWithout(bytes);
  writes.back() = 0x00;
  for (std::size_t i = 0; i + 1 < writes.size(); ++i) ASSERT_EQ(SendByte(writes[i]), kOk);
  Chip().SetHostBitRate(4800);
  ASSERT_EQ(SendByte(0x00), kOk);
  Chip().SetHostBitRate(9600);
  EXPECT_EQ(Exchange({0xC1, 0x03}, 1), std::vector<std::uint8_t>{0x94});
  EXPECT_EQ(Chip().Flash().PulseCount(), 0u);
}

// A clock the timing table does not serve is refused at 0xC1, before any
// block: above 20 MHz the watchdog value no longer fits its byte. 20.3 MHz
// makes the boot ROM choose BRR 65, so the writer computes 20.275 MHz;
// 1.8432 MHz is below the table's 2 MHz.
TEST_F(WriteControlTest, WriteModeRefusesAClockOutsideTheTable) {
  for (const std::uint32_t hz : {20300000u, 1843200u}) {
    StartBoard(hz, d::kDefaultLoadAddress);
    ASSERT_EQ(CheckTargetId(), kOk) << hz;
    ASSERT_EQ(SetupClockParameters(), kOk);
    EXPECT_EQ(Exchange({0xC1, 0x03}, 1), std::vector<std::uint8_t>{0x95}) << hz;
    EXPECT_EQ(EnterWriteMode(), kCommandFailed);
    FillImage(0x0, 3);
    EXPECT_EQ(WriteBlockAt(0x0), kBlockBadParameter);
    EXPECT_EQ(Chip().Flash().PulseCount(), 0u);
    ClosePort();
  }
  // The ends of the range are served.
  for (const std::uint32_t hz : {19968000u, 2457600u}) {
    StartBoard(hz, d::kDefaultLoadAddress);
    Configure();
    ClosePort();
  }
}

// A damaged or unknown command byte: the block behind it is not parsed as
// commands; once the line is quiet the program answers 0x92 once, so the
// writer reports 306, and the flash is untouched.
TEST_F(WriteControlTest, DamagedCommandByteEndsInOneRefusal) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  Configure();
  // An unknown command byte in front of a block whose data holds commands.
  std::vector<std::uint8_t> block = BlockAt(0x200, 0xC0);
  block[0] = 0xC2;
  EXPECT_EQ(Exchange(block, 3), std::vector<std::uint8_t>{0x92});

  // The command byte itself damaged on the line (0xC3 at half the rate).
  block = BlockAt(0x200, 0xC5);
  Chip().SetHostBitRate(4800);
  ASSERT_EQ(SendByte(0xC3), kOk);
  Chip().SetHostBitRate(9600);
  block.erase(block.begin());
  EXPECT_EQ(Exchange(block, 3), std::vector<std::uint8_t>{0x92});
  EXPECT_EQ(Chip().Flash().Contents()[0x200], 0xFF);
  EXPECT_EQ(Chip().Flash().PulseCount(), 0u);

  // The program answers the next command as usual.
  EXPECT_EQ(CheckTargetId(), kOk);
  FillImage(0x200, 4);
  EXPECT_EQ(WriteBlockAt(0x200), kOk);
  EXPECT_EQ(Violations(), "none");
}

// The reprogram data comes from the received data and the latest verify: a
// cell that verified programmed and then reads unprogrammed again is pulsed
// again and the unit verifies (computed from the previous reprogram data it
// never would be, and the unit would fail after 1000 tries).
TEST_F(WriteControlTest, ACellThatLosesItsChargeIsProgrammedAgain) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  Configure();
  Chip().Flash().LosesChargeOnce(0x605);
  FillImage(0x600, 6);
  LoadImage[0x605] = 0x00;
  EXPECT_EQ(WriteBlockAt(0x600), kOk);
  EXPECT_TRUE(FlashMatchesImage(0x600));
  EXPECT_LT(Chip().Flash().PulseCount(), 20u);
  EXPECT_EQ(Violations(), "none");
}

// When the flash's error protection sets FLER, programming stops at once:
// no further pulse, SWE cleared, 0xB1 0xD5.
TEST_F(WriteControlTest, ErrorProtectionStopsTheUnitAtOnce) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  Configure();
  Chip().Flash().ErrorProtectionAtPulse(2);  // the additional pulse of try 1
  FillImage(0x400, 5);
  EXPECT_EQ(Exchange(BlockAt(0x400, 0x5A), 2), (std::vector<std::uint8_t>{0xB1, 0xD5}));
  EXPECT_EQ(Chip().Flash().PulseCount(), 2u);
  EXPECT_FALSE(Chip().Flash().SweSet());
  EXPECT_EQ(CheckTargetId(), kOk);
}

// zlib's CRC-32 (reflected 0xEDB88320, initial and final XOR 0xFFFFFFFF).
std::uint32_t ReferenceCrc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::vector<std::uint8_t> CrcCommand(std::uint32_t start, std::uint32_t count) {
  std::vector<std::uint8_t> out{0xCC};
  for (const std::uint32_t v : {start, count}) {
    for (int shift = 24; shift >= 0; shift -= 8)
      out.push_back(static_cast<std::uint8_t>(v >> shift));
  }
  return out;
}

std::vector<std::uint8_t> CrcReply(std::uint32_t crc) {
  return {static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
          static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc), 0x06};
}

// 0xCC over ranges of a flash with data in it (no write mode needed), and
// the ranges it refuses.
TEST_F(WriteControlTest, FlashCrcOfRanges) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  std::vector<std::uint8_t>& flash = Chip().Flash().Contents();
  for (std::size_t i = 0; i < flash.size(); i += 7)
    flash[i] = static_cast<std::uint8_t>(i * 131 >> 3);
  flash.back() = 0x3C;
  const std::uint8_t* f = flash.data();

  EXPECT_EQ(Exchange(CrcCommand(0x1000, 128), 5), CrcReply(ReferenceCrc32(f + 0x1000, 128)));
  EXPECT_EQ(Exchange(CrcCommand(0x3FFFF, 1), 5), CrcReply(ReferenceCrc32(f + 0x3FFFF, 1)));
  EXPECT_EQ(Exchange(CrcCommand(0x40000, 0), 5), CrcReply(0));
  EXPECT_EQ(Exchange(CrcCommand(0x123, 0), 5), CrcReply(0));
  // Past the end, or a start beyond the flash: 0x92 and nothing else.
  for (const auto& range : {std::pair<std::uint32_t, std::uint32_t>{0x3FF80, 0x81},
                            {0x40001, 0},
                            {0, 0x40001},
                            {0xFFFFFF00, 0x200},
                            {1, 0xFFFFFFFF}}) {
    EXPECT_EQ(Exchange(CrcCommand(range.first, range.second), 5), std::vector<std::uint8_t>{0x92})
        << std::hex << range.first << " " << range.second;
  }
  EXPECT_EQ(CheckTargetId(), kOk);
}

// The whole flash, at the fastest and the slowest clock the boot ROM boots:
// the reply is the image's CRC, and it comes within 2 s of chip time at
// 19.968 MHz and within the writer's reply wait (about 11 s) at the slowest.
TEST_F(WriteControlTest, WholeFlashCrcAndItsChipTime) {
  for (const std::uint32_t hz : {19968000u, 2457600u}) {
    StartBoard(hz, d::kDefaultLoadAddress);
    std::vector<std::uint8_t>& flash = Chip().Flash().Contents();
    for (std::size_t i = 0; i < flash.size(); ++i)
      flash[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
    const board::States before = Chip().Now();
    for (const std::uint8_t b : CrcCommand(0, 0x40000)) ASSERT_EQ(SendByte(b), kOk);
    std::vector<std::uint8_t> reply;
    for (unsigned tries = 0; reply.size() < 5 && tries < 2000; ++tries) {
      std::uint8_t b = 0;
      if (ReceiveByte(b) == kOk) reply.push_back(b);
    }
    const double seconds = static_cast<double>(Chip().Now() - before) / hz;
    EXPECT_EQ(reply, CrcReply(ReferenceCrc32(flash.data(), flash.size()))) << hz;
    EXPECT_LT(seconds, hz > 10000000 ? 2.0 : 10.0) << hz;
    std::printf("whole-flash CRC at %u Hz: %.3f s of chip time\n", static_cast<unsigned>(hz),
                seconds);
    ClosePort();
  }
}

// ---- The rate switch (0xCB with the embedded unit) ----

// Host side of a switch: the unit with `setting`, the reply at the old rate.
std::vector<std::uint8_t> SendSwitch(std::uint8_t brr, std::uint8_t select, int sumError = 0) {
  ChipRateSetting setting;
  setting.brr = brr;
  setting.clockSelect = select;
  std::uint8_t unit[kRateSwitchSize];
  const std::uint8_t sum = MakeRateSwitchUnit(setting, unit);
  std::vector<std::uint8_t> bytes{kRateSwitchCommand};
  bytes.insert(bytes.end(), unit, unit + kRateSwitchSize);
  bytes.push_back(static_cast<std::uint8_t>(sum + sumError));
  for (const std::uint8_t b : bytes) EXPECT_EQ(SendByte(b), kOk);
  std::vector<std::uint8_t> reply;
  for (unsigned tries = 0; reply.empty() && tries < 1000; ++tries) {
    std::uint8_t b = 0;
    if (ReceiveByte(b) == kOk) reply.push_back(b);
  }
  return reply;
}

double ChipRate() {
  return static_cast<double>(board::SimBoard().Options().clockHz) /
         board::SimBoard().BootSci().BitStates();
}

// At the new rate the chip answers the probe and then every command; the
// 0x06 left whole at the old rate, and the SCI's setting changed only with
// its transmitter and receiver off.
TEST_F(WriteControlTest, RateSwitchMovesTheLineAndTheCommandsFollow) {
  struct Case {
    std::uint32_t clockHz;
    std::uint8_t brr, select;
    std::uint32_t rate;
  };
  for (const Case c :
       {Case{19968000, 0, 0, 624000}, Case{4000000, 1, 0, 62500}, Case{16000000, 12, 0, 38462}}) {
    SCOPED_TRACE(c.clockHz);
    StartBoard(c.clockHz, d::kDefaultLoadAddress);
    Configure();
    EXPECT_EQ(SendSwitch(c.brr, c.select), std::vector<std::uint8_t>{kRateSwitchAccepted});
    ASSERT_EQ(SetPortBaudRate(c.rate), kOk);
    SleepMilliseconds(kProbeSettleMs);
    EXPECT_EQ(Exchange({kRateProbe}, 1), std::vector<std::uint8_t>{kRateProbeAnswer});
    EXPECT_NEAR(ChipRate(), c.rate, c.rate * 0.001);
    EXPECT_EQ(CheckTargetId(), kOk);
    FillImage(0x1000, 9);
    EXPECT_EQ(WriteBlockAt(0x1000), kOk);
    EXPECT_TRUE(FlashMatchesImage(0x1000));
    EXPECT_EQ(Chip().HostFramingErrors(), 0u);
    EXPECT_EQ(Chip().BootSci().FramingErrorCount(), 0u);
    EXPECT_EQ(Chip().BootSci().SettingChangesWhileRunning(), 0u);
    EXPECT_EQ(Violations(), "none");
    ClosePort();
  }
}

// A unit that arrived damaged is not run, and a clock select the SCI does
// not have is refused: either way the line stays at 9600 bit/s.
TEST_F(WriteControlTest, RateSwitchRefusedOrDamagedLeavesTheRate) {
  StartBoard(d::kDefaultClockHz, d::kDefaultLoadAddress);
  Configure();
  EXPECT_EQ(SendSwitch(0, 0, 1), std::vector<std::uint8_t>{0x93});
  EXPECT_EQ(CheckTargetId(), kOk);
  EXPECT_EQ(SendSwitch(0, 4), std::vector<std::uint8_t>{0x92});
  EXPECT_EQ(CheckTargetId(), kOk);
  EXPECT_NEAR(ChipRate(), 9600.0, 9600 * 0.02);
  EXPECT_EQ(Chip().BootSci().SettingChangesWhileRunning(), 0u);
}

// No probe: the old rate comes back by itself after the window, about
// 200 ms counted from the host's timing values at any clock. A probe at the
// wrong rate (a framing error) or a byte other than the probe brings it
// back at once, and nothing is answered.
TEST_F(WriteControlTest, RateSwitchGoesBackWithoutAValidProbe) {
  for (const std::uint32_t hz : {19968000u, 2457600u}) {
    SCOPED_TRACE(hz);
    StartBoard(hz, d::kDefaultLoadAddress);
    Configure();
    const double boot = ChipRate();
    const std::uint8_t brr = hz > 10000000 ? 4 : 0;  // 124800 or 76800 bit/s
    EXPECT_EQ(SendSwitch(brr, 0), std::vector<std::uint8_t>{kRateSwitchAccepted});
    const board::States switched = Chip().Now();  // the 0x06 has just arrived
    SleepMilliseconds(1);
    EXPECT_GT(ChipRate(), boot * 1.5);  // the chip is waiting at the new rate
    for (unsigned ms = 0; ChipRate() > boot * 1.5 && ms < 400; ++ms) SleepMilliseconds(1);
    const double window = static_cast<double>(Chip().Now() - switched) / hz;
    EXPECT_GT(window, 0.19);
    EXPECT_LT(window, 0.21);
    EXPECT_EQ(CheckTargetId(), kOk);

    for (const bool wrongRate : {true, false}) {
      EXPECT_EQ(SendSwitch(brr, 0), std::vector<std::uint8_t>{kRateSwitchAccepted});
      if (!wrongRate) {
        ASSERT_EQ(SetPortBaudRate(static_cast<std::uint32_t>(hz / 32.0 / (brr + 1))), kOk);
      }
      SleepMilliseconds(kProbeSettleMs);
      EXPECT_EQ(Exchange({wrongRate ? kRateProbe : std::uint8_t{0x54}}, 1).size(), 0u);
      EXPECT_NEAR(ChipRate(), boot, 1.0);  // back well before the window ends
      ASSERT_EQ(SetPortBaudRate(9600), kOk);
      EXPECT_EQ(DrainReceiveBuffer(), kOk);
      EXPECT_EQ(CheckTargetId(), kOk);
    }
    EXPECT_EQ(Chip().BootSci().SettingChangesWhileRunning(), 0u);
    ClosePort();
  }
}

}  // namespace
}  // namespace vantor
