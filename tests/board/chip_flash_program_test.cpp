// Programs of ours, assembled and run on the chip, driving the flash
// controller: the correct single-unit sequence, and one breach of each rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "board/h8s2215_chip.h"
#include "tests/board/chip_assembler.h"
#include "tests/board/chip_boot_helper.h"

namespace vantor::board {
namespace {

namespace d = device;
using testing::Assemble;
using testing::AssemblerAvailable;
using testing::BootInto;

constexpr std::uint32_t kResult = d::kRamStart + 0x2000;

// The program of one unit's programming; each field breaks one rule.
struct FlashProgram {
  bool setSwe = true;
  std::uint32_t unit = 0x1000;
  double pulseMicros = 30;
  bool dummyWrite = true;
  bool readDuringPulse = false;
  int watchdogClock = 3;   // phi/512: about 6.6 ms to overflow
  double delayMicros = 0;  // before anything else

  // A busy wait of about `micros` (DEC.W/BNE: 3 states an iteration).
  static std::string Wait(double micros) {
    char text[96];
    const int count = static_cast<int>(micros * d::kDefaultClockHz / 1e6 / 3 + 0.5);
    std::snprintf(text, sizeof text, "\tmov.w\t#%d,r4\n1:\tdec.w\t#1,r4\n\tbne\t1b\n", count);
    return text;
  }

  std::string Source() const {
    char head[160];
    std::string s;
    if (delayMicros > 0) s += Wait(delayMicros);
    s += setSwe ? "\tbset\t#6,@FLMCR1:8\n" : "";
    s += Wait(2);
    std::snprintf(head, sizeof head, "\tmov.l\t#data,er2\n\tmov.l\t#0x%X,er3\n", unit);
    s += head;
    s += "\tmov.w\t#64,r5\n"
         "copy:\tmov.w\t@er2+,r0\n\tmov.w\tr0,@er3\n\tadds\t#2,er3\n\tdec.w\t#1,r5\n\tbne\tcopy\n";
    // The watchdog guards the pulse.
    std::snprintf(head, sizeof head,
                  "\tmov.w\t#WDT_TCNT_KEY,r0\n\tmov.w\tr0,@WDT_TCSR:16\n"
                  "\tmov.w\t#WDT_TCSR_KEY|TCSR_WT|TCSR_TME|%d,r0\n\tmov.w\tr0,@WDT_TCSR:16\n",
                  watchdogClock);
    s += head;
    s += "\tbset\t#4,@FLMCR1:8\n" + Wait(52);
    s += "\tbset\t#0,@FLMCR1:8\n";
    s += readDuringPulse ? "\tmov.b\t@0x2000:32,r1l\n" : "";
    s += Wait(pulseMicros);
    s += "\tbclr\t#0,@FLMCR1:8\n" + Wait(6);
    s += "\tbclr\t#4,@FLMCR1:8\n" + Wait(6);
    s += "\tmov.w\t#WDT_TCSR_KEY,r0\n\tmov.w\tr0,@WDT_TCSR:16\n";
    s += "\tbset\t#2,@FLMCR1:8\n" + Wait(5);
    std::snprintf(head, sizeof head, "\tmov.l\t#data,er2\n\tmov.l\t#0x%X,er3\n", unit);
    s += head;
    s += "\tmov.w\t#32,r5\nverify:\n";
    s += dummyWrite ? "\tmov.l\t#0xFFFFFFFF,er0\n\tmov.l\ter0,@er3\n" : "";
    s += Wait(3);
    s += "\tmov.l\t@er3,er1\n\tmov.l\t@er2+,er0\n\tcmp.l\ter0,er1\n\tbne\tbad\n"
         "\tadds\t#4,er3\n\tdec.w\t#1,r5\n\tbne\tverify\n"
         "\tmov.b\t#0x06,r6l\n\tbra\tdone\nbad:\tmov.b\t#0xEE,r6l\n"
         "done:\tbclr\t#2,@FLMCR1:8\n";
    s += Wait(3) + "\tbclr\t#6,@FLMCR1:8\n" + Wait(110);
    std::snprintf(head, sizeof head, "\tmov.b\tr6l,@0x%X:32\n", kResult);
    s += head;
    s += "idle:\tbra\tidle\n\t.align 2\ndata:\n";
    for (int i = 0; i < 128; ++i) {
      std::snprintf(head, sizeof head, "\t.byte\t0x%02X\n", Data(i));
      s += head;
    }
    return s;
  }

  static std::uint8_t Data(int i) { return static_cast<std::uint8_t>(i * 29 + 3); }
};

class FlashProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!AssemblerAvailable()) GTEST_SKIP() << "h8300-hms binutils not installed";
  }

  // Boots the program and lets it run for 20 ms of emulated time.
  void Run(const FlashProgram& program) {
    std::string errors;
    const auto image = Assemble(program.Source(), d::kDefaultLoadAddress, errors);
    ASSERT_FALSE(image.empty()) << errors;
    ASSERT_TRUE(BootInto(chip_, image));
    chip_.RunForMicroseconds(20000);
    ASSERT_FALSE(chip_.Halted()) << chip_.HaltMessage();
  }

  // True when there are violations and all of them break `rule`.
  ::testing::AssertionResult OnlyBroke(FlashRule rule) const {
    const auto& violations = chip_.Flash().Violations();
    if (violations.empty()) return ::testing::AssertionFailure() << "no violation recorded";
    for (const FlashViolation& v : violations) {
      if (v.rule != rule) return ::testing::AssertionFailure() << chip_.Flash().Report();
    }
    return ::testing::AssertionSuccess();
  }

  H8s2215Chip chip_;
};

TEST_F(FlashProgramTest, CorrectSequenceProgramsOneUnitWithoutViolation) {
  Run(FlashProgram{});
  EXPECT_EQ(chip_.Flash().Report(), "none");
  EXPECT_EQ(chip_.Ram()[kResult - d::kRamStart], 0x06);
  const auto& cells = chip_.Flash().Contents();
  for (int i = 0; i < 128; ++i) ASSERT_EQ(cells[0x1000 + i], FlashProgram::Data(i)) << i;
  EXPECT_EQ(cells[0xFFF], 0xFF);
  EXPECT_EQ(cells[0x1080], 0xFF);
  EXPECT_EQ(chip_.Flash().PulseCount(), 1u);
  EXPECT_EQ(chip_.WatchdogResets(), 0u);
}

TEST_F(FlashProgramTest, ShortPulseIsReported) {
  FlashProgram program;
  program.pulseMicros = 20;
  Run(program);
  EXPECT_TRUE(OnlyBroke(FlashRule::kPulseTooShort));
  EXPECT_EQ(chip_.Flash().Violations()[0].address, 0x1000u);
}

TEST_F(FlashProgramTest, LongPulseIsReported) {
  FlashProgram program;
  program.pulseMicros = 250;
  Run(program);
  EXPECT_TRUE(OnlyBroke(FlashRule::kPulseTooLong));
}

TEST_F(FlashProgramTest, ProgrammingWithoutSweIsReportedAndLeavesTheFlashBlank) {
  FlashProgram program;
  program.setSwe = false;
  Run(program);
  EXPECT_TRUE(OnlyBroke(FlashRule::kWithoutSwe));
  EXPECT_TRUE(chip_.Flash().IsBlank());
  EXPECT_EQ(chip_.Ram()[kResult - d::kRamStart], 0xEE);
}

TEST_F(FlashProgramTest, VerifyReadWithoutDummyWriteIsReported) {
  FlashProgram program;
  program.dummyWrite = false;
  Run(program);
  EXPECT_TRUE(OnlyBroke(FlashRule::kVerifyWithoutDummy));
  EXPECT_EQ(chip_.Flash().Violations()[0].address, 0x1000u);
}

TEST_F(FlashProgramTest, UnitNotAlignedTo128IsReported) {
  FlashProgram program;
  program.unit = 0x1040;
  Run(program);
  EXPECT_TRUE(OnlyBroke(FlashRule::kUnalignedUnit));
  EXPECT_EQ(chip_.Flash().Violations()[0].address, 0x1040u);
}

TEST_F(FlashProgramTest, FlashReadWhileThePulseRunsIsReported) {
  FlashProgram program;
  program.readDuringPulse = true;
  Run(program);
  EXPECT_TRUE(OnlyBroke(FlashRule::kAccessDuringPulse));
  EXPECT_EQ(chip_.Flash().Violations()[0].address, 0x2000u);
}

TEST_F(FlashProgramTest, WatchdogOverflowDuringProgrammingIsReportedAndResetsTheChip) {
  FlashProgram program;
  program.watchdogClock = 0;   // phi/2: overflows within the 50 us before the pulse
  program.delayMicros = 3000;  // until the boot ROM's H'AA has left: a reset cuts it off
  Run(program);
  EXPECT_TRUE(OnlyBroke(FlashRule::kWatchdogOverflow)) << chip_.Flash().Report();
  EXPECT_EQ(chip_.WatchdogResets(), 1u);
  EXPECT_FALSE(chip_.CpuRunning());
  EXPECT_EQ(testing::Exchange(chip_, 0x00), 0x00);  // back in the boot ROM
}

TEST_F(FlashProgramTest, IntervalTimerOverflowWhileSweIsSetIsReportedWithoutReset) {
  std::string errors;
  // SWE set, the watchdog counting phi/2 in interval mode for about 100 us
  // (an overflow every 25.6 us), then SWE cleared.
  const auto image = Assemble(
      "\tbset\t#6,@FLMCR1:8\n"
      "\tmov.w\t#WDT_TCSR_KEY|TCSR_TME,r0\n\tmov.w\tr0,@WDT_TCSR:16\n" +
          FlashProgram::Wait(100) +
          "\tmov.w\t#WDT_TCSR_KEY,r0\n\tmov.w\tr0,@WDT_TCSR:16\n"
          "\tbclr\t#6,@FLMCR1:8\nidle:\tbra\tidle\n",
      d::kDefaultLoadAddress, errors);
  ASSERT_FALSE(image.empty()) << errors;
  ASSERT_TRUE(BootInto(chip_, image));
  chip_.RunForMicroseconds(1000);
  EXPECT_TRUE(OnlyBroke(FlashRule::kWatchdogOverflow));
  EXPECT_GE(chip_.Flash().Violations().size(), 3u) << chip_.Flash().Report();
  EXPECT_EQ(chip_.WatchdogResets(), 0u);
  EXPECT_TRUE(chip_.CpuRunning());
}

TEST_F(FlashProgramTest, CellsThatNeverTakeFailVerification) {
  chip_.Flash().NeverPrograms(0x1005);
  Run(FlashProgram{});
  EXPECT_EQ(chip_.Flash().Report(), "none");
  EXPECT_EQ(chip_.Ram()[kResult - d::kRamStart], 0xEE);
  EXPECT_EQ(chip_.Flash().Contents()[0x1005], 0xFF);
}

}  // namespace
}  // namespace vantor::board
