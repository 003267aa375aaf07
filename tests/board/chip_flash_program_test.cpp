// Programs of ours, assembled and run on the chip, driving the flash
// controller: the correct single-unit sequence, and one breach of each rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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

// The program of one unit's programming, try after try; each field breaks
// one rule.
struct FlashProgram {
  bool setSwe = true;
  std::uint32_t unit = 0x1000;
  double pulseMicros = 30;       // tries 1-6
  double longPulseMicros = 200;  // tries 7 on
  int tries = 1;                 // made whatever the verify says
  int additionalInTry = 0;       // a 10 us additional pulse after this try's verify
  int loadBytes = 128;
  bool wordLatches = false;  // latches loaded by word writes
  bool byteVerify = false;   // verify reads by bytes
  bool dummyWrite = true;
  bool oneDummyForTwoReads = false;
  bool readDuringPulse = false;
  bool watchdog = true;
  int watchdogClock = 3;      // phi/512: about 6.6 ms to overflow
  int watchdogStart = 0;      // counter start
  double delayMicros = 0;     // before anything else
  bool programTwice = false;  // the unit again after SWE was cleared

  // A busy wait of about `micros` (DEC.W/BNE: 3 states an iteration).
  static int Count(double micros) {
    return static_cast<int>(micros * d::kDefaultClockHz / 1e6 / 3 + 0.5);
  }
  static std::string Wait(double micros) {
    char text[96];
    std::snprintf(text, sizeof text, "\tmov.w\t#%d,r4\n1:\tdec.w\t#1,r4\n\tbne\t1b\n",
                  Count(micros));
    return text;
  }

  std::string Pulse(double micros, const char* longer) const {
    char text[320];
    std::string s;
    if (watchdog) {
      std::snprintf(text, sizeof text,
                    "\tmov.w\t#WDT_TCNT_KEY|%d,r0\n\tmov.w\tr0,@WDT_TCSR:16\n"
                    "\tmov.w\t#WDT_TCSR_KEY|TCSR_WT|TCSR_TME|%d,r0\n\tmov.w\tr0,@WDT_TCSR:16\n",
                    watchdogStart, watchdogClock);
      s += text;
    }
    s += "\tbset\t#4,@FLMCR1:8\n" + Wait(52);
    std::snprintf(text, sizeof text, "\tmov.w\t#%d,r4\n", Count(micros));
    s += text;
    if (longer != nullptr) s += longer;
    s += "\tbset\t#0,@FLMCR1:8\n";
    s += readDuringPulse ? "\tmov.b\t@0x2000:32,r1l\n" : "";
    s += "1:\tdec.w\t#1,r4\n\tbne\t1b\n";
    s += "\tbclr\t#0,@FLMCR1:8\n" + Wait(6);
    s += "\tbclr\t#4,@FLMCR1:8\n" + Wait(6);
    if (watchdog) s += "\tmov.w\t#WDT_TCSR_KEY,r0\n\tmov.w\tr0,@WDT_TCSR:16\n";
    return s;
  }

  std::string Load() const {
    char text[160];
    std::snprintf(text, sizeof text, "\tmov.l\t#data,er2\n\tmov.l\t#0x%X,er3\n\tmov.w\t#%d,r5\n",
                  unit, wordLatches ? loadBytes / 2 : loadBytes);
    std::string s = text;
    s += wordLatches ? "2:\tmov.w\t@er2+,r0\n\tmov.w\tr0,@er3\n\tadds\t#2,er3\n"
                     : "2:\tmov.b\t@er2+,r0l\n\tmov.b\tr0l,@er3\n\tadds\t#1,er3\n";
    s += "\tdec.w\t#1,r5\n\tbne\t2b\n";
    return s;
  }

  std::string Verify() const {
    char text[160];
    std::string s = "\tbset\t#2,@FLMCR1:8\n" + Wait(5);
    std::snprintf(text, sizeof text, "\tmov.l\t#data,er2\n\tmov.l\t#0x%X,er3\n\tmov.w\t#%d,r5\n",
                  unit,
                  byteVerify            ? 128
                  : oneDummyForTwoReads ? 32
                                        : 64);
    s += text;
    s += "3:\n";
    if (dummyWrite) s += "\tmov.w\t#0xFFFF,r0\n\tmov.w\tr0,@er3\n";
    s += Wait(3);
    if (byteVerify) {
      s += "\tmov.b\t@er3,r1l\n\tmov.b\t@er2+,r0l\n\tcmp.b\tr0l,r1l\n\tbeq\t4f\n"
           "\tmov.b\t#0xEE,r6l\n4:\tadds\t#1,er3\n";
    } else {
      const int reads = oneDummyForTwoReads ? 2 : 1;
      for (int n = 0; n < reads; ++n) {
        s += "\tmov.w\t@er3,r1\n\tmov.w\t@er2+,r0\n\tcmp.w\tr0,r1\n\tbeq\t4f\n"
             "\tmov.b\t#0xEE,r6l\n4:\tadds\t#2,er3\n";
      }
    }
    s += "\tdec.w\t#1,r5\n\tbne\t3b\n\tbclr\t#2,@FLMCR1:8\n" + Wait(3);
    return s;
  }

  std::string Sequence(int n) const {
    char text[160];
    std::string s = setSwe ? "\tbset\t#6,@FLMCR1:8\n" : "";
    std::snprintf(text, sizeof text, "\tmov.b\t#0x06,r6l\n\tsub.w\te5,e5\ntry%d:\tinc.w\t#1,e5\n",
                  n);
    s += Wait(2) + text;
    s += Load();
    std::snprintf(text, sizeof text, "\tcmp.w\t#6,e5\n\tbls\t5f\n\tmov.w\t#%d,r4\n5:\n",
                  Count(longPulseMicros));
    s += Pulse(pulseMicros, text);
    s += Verify();
    if (additionalInTry > 0) {
      std::snprintf(text, sizeof text, "\tcmp.w\t#%d,e5\n\tbne\t6f\n", additionalInTry);
      s += text + Load() + Pulse(10, nullptr) + "6:\n";
    }
    std::snprintf(text, sizeof text, "\tcmp.w\t#%d,e5\n\tblo\ttry%d:16\n", tries, n);
    s += text;
    s += "\tbclr\t#6,@FLMCR1:8\n" + Wait(110);
    return s;
  }

  std::string Source() const {
    char text[160];
    std::string s;
    if (delayMicros > 0) s += Wait(delayMicros);
    s += Sequence(1);
    if (programTwice) s += Sequence(2);
    std::snprintf(text, sizeof text, "\tmov.b\tr6l,@0x%X:32\n", kResult);
    s += text;
    s += "idle:\tbra\tidle\n\t.align 2\ndata:\n";
    for (int i = 0; i < 128; ++i) {
      std::snprintf(text, sizeof text, "\t.byte\t0x%02X\n", Data(i));
      s += text;
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

  // Boots the program and lets it run for `micros` of emulated time.
  void Run(const FlashProgram& program, double micros = 20000) {
    std::string errors;
    const auto image = Assemble(program.Source(), d::kDefaultLoadAddress, errors);
    ASSERT_FALSE(image.empty()) << errors;
    ASSERT_TRUE(BootInto(chip_, image));
    chip_.RunForMicroseconds(micros);
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

// Each program breaks one rule once; the board must see that rule broken,
// at the unit's address, and nothing else.
TEST_F(FlashProgramTest, EachBrokenRuleIsReportedWithTheUnitsAddress) {
  struct Case {
    const char* name;
    FlashProgram program;
    FlashRule rule;
    std::uint32_t address;
    double micros;
    FlashRule follows;  // what the breach brings after it, if anything
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, FlashRule rule, auto change, std::uint32_t address = 0x1000,
                 double micros = 20000, FlashRule follows = FlashRule::kOutOfOrder) {
    FlashProgram program;
    change(program);
    cases.push_back(
        {name, program, rule, address, micros, follows == FlashRule::kOutOfOrder ? rule : follows});
  };
  add("a 20 us pulse in try 1", FlashRule::kPulseTooShort,
      [](FlashProgram& p) { p.pulseMicros = 20; });
  add("a 36 us pulse in try 1", FlashRule::kPulseTooLong,
      [](FlashProgram& p) { p.pulseMicros = 36; });
  add("a 30 us pulse in try 7", FlashRule::kPulseTooShort, [](FlashProgram& p) {
    p.tries = 7;
    p.longPulseMicros = 30;
  });
  add("a 206 us pulse in try 7", FlashRule::kPulseTooLong, [](FlashProgram& p) {
    p.tries = 7;
    p.longPulseMicros = 206;
  });
  add("an additional pulse in try 7", FlashRule::kOutOfOrder, [](FlashProgram& p) {
    p.tries = 7;
    p.additionalInTry = 7;
  });
  add(
      "1001 tries", FlashRule::kTooManyTries, [](FlashProgram& p) { p.tries = 1001; }, 0x1000,
      700000);
  add("no watchdog", FlashRule::kWatchdogNotGuarding, [](FlashProgram& p) { p.watchdog = false; });
  add(
      "a watchdog that overflows during the pulse", FlashRule::kWatchdogNotGuarding,
      [](FlashProgram& p) {
        p.watchdogClock = 2;  // phi/128: 6.4 us a count, due 58-64 us after its start
        p.watchdogStart = 0xFF - 9;
        p.delayMicros = 3000;  // until the boot ROM's H'AA has left: the reset would cut it
      },
      0x1000, 20000, FlashRule::kWatchdogOverflow);
  add("latches loaded by words", FlashRule::kLatchNotByte,
      [](FlashProgram& p) { p.wordLatches = true; });
  add("half the latches loaded", FlashRule::kUnitNotLoaded,
      [](FlashProgram& p) { p.loadBytes = 64; });
  add("verify read by bytes", FlashRule::kVerifyNotWord,
      [](FlashProgram& p) { p.byteVerify = true; });
  add("no dummy write", FlashRule::kVerifyWithoutDummy,
      [](FlashProgram& p) { p.dummyWrite = false; });
  add(
      "one dummy write for two reads", FlashRule::kVerifyWithoutDummy,
      [](FlashProgram& p) { p.oneDummyForTwoReads = true; }, 0x1002);
  add("the unit programmed twice", FlashRule::kReprogramWithoutErase,
      [](FlashProgram& p) { p.programTwice = true; });
  // Latches not written: the pulse finds the unit unloaded.
  add(
      "programming without SWE", FlashRule::kWithoutSwe, [](FlashProgram& p) { p.setSwe = false; },
      0x1000, 20000, FlashRule::kUnitNotLoaded);
  add(
      "a unit not aligned to 128", FlashRule::kUnalignedUnit,
      [](FlashProgram& p) { p.unit = 0x1040; }, 0x1040, 20000, FlashRule::kUnitNotLoaded);
  add(
      "a flash read while the pulse runs", FlashRule::kAccessDuringPulse,
      [](FlashProgram& p) { p.readDuringPulse = true; }, 0x2000);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    H8s2215Chip chip;
    std::string errors;
    const auto image = Assemble(c.program.Source(), d::kDefaultLoadAddress, errors);
    ASSERT_FALSE(image.empty()) << errors;
    ASSERT_TRUE(BootInto(chip, image));
    chip.RunForMicroseconds(c.micros);
    ASSERT_FALSE(chip.Halted()) << chip.HaltMessage();
    const auto& violations = chip.Flash().Violations();
    ASSERT_FALSE(violations.empty()) << "no violation recorded";
    EXPECT_EQ(violations[0].rule, c.rule) << chip.Flash().Report();
    for (const FlashViolation& v : violations) {
      EXPECT_TRUE(v.rule == c.rule || v.rule == c.follows) << chip.Flash().Report();
    }
    EXPECT_EQ(violations[0].address, c.address) << chip.Flash().Report();
    EXPECT_GT(violations[0].at, 0u);
  }
}

TEST_F(FlashProgramTest, TheTriesOfTheProcedureWithTheirAdditionalPulsesAreAccepted) {
  FlashProgram program;
  program.tries = 8;
  program.additionalInTry = 6;
  chip_.Flash().NeverPrograms(0x1010);
  Run(program);
  EXPECT_EQ(chip_.Flash().Report(), "none");
  EXPECT_EQ(chip_.Flash().PulseCount(), 9u);
  EXPECT_EQ(chip_.Ram()[kResult - d::kRamStart], 0xEE);  // the dead cell never verified
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
  unsigned overflows = 0;
  for (const FlashViolation& v : chip_.Flash().Violations()) overflows += 1 + v.repeats;
  EXPECT_GE(overflows, 3u) << chip_.Flash().Report();
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
