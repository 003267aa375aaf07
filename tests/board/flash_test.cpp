// The flash controller driven through its register and array interface:
// what the assembled programs of chip_flash_program_test.cpp do not reach
// (the accepted pulse lengths, the waits between steps, steps out of order,
// injected faults). Each rule broken by a program is tested there.
#include "board/flash_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "board/h8s2215_device.h"
#include "board/watchdog.h"

namespace vantor::board {
namespace {

namespace d = device;

constexpr std::uint32_t kClock = 20000000;  // 20 states a microsecond

// Drives the controller step by step with a clock of its own, the way the
// procedure asks: latches by bytes, the watchdog running around each pulse,
// each verify read a word after its own H'FF dummy write.
class Driver {
 public:
  Driver(FlashController& flash, Watchdog& wdt) : flash_(flash), wdt_(wdt) {}
  void Wait(double micros) { now_ += static_cast<States>(micros * 20); }
  void Flmcr1(std::uint8_t value) { flash_.WriteRegister(d::kFlmcr1, value, now_); }
  void Load(std::uint32_t base, const std::uint8_t* data) {
    for (unsigned i = 0; i < 128; ++i) flash_.WriteArray(base + i, data[i], 1, now_);
  }
  // Watchdog mode at phi/512 from `start`: 6.5 ms to overflow at 20 MHz.
  void StartWatchdog(std::uint8_t start = 0) {
    wdt_.WriteWord(0xA500, now_);
    wdt_.WriteWord(static_cast<std::uint16_t>(0x5A00 | start), now_);
    wdt_.WriteWord(0xA500 | d::kTcsrWtIt | d::kTcsrTme | 3, now_);
  }
  void StopWatchdog() { wdt_.WriteWord(0xA500, now_); }
  // One program pulse of `micros` with the waits around it.
  void Pulse(double micros) {
    StartWatchdog();
    Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
    Wait(50);
    Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu | d::kFlmcr1P);
    Wait(micros);
    Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
    Wait(5);
    Flmcr1(d::kFlmcr1Swe);
    Wait(5);
    StopWatchdog();
  }
  // Program verify of the unit into `read`: true when it reads as `data`.
  bool Verify(std::uint32_t base, const std::uint8_t* data, std::uint8_t* read = nullptr) {
    Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Pv);
    Wait(4);
    bool same = true;
    for (unsigned i = 0; i < 128; i += 2) {
      flash_.WriteArray(base + i, 0xFFFF, 2, now_);
      Wait(2);
      const std::uint32_t word = flash_.ReadArray(base + i, 2, now_);
      const std::uint8_t high = static_cast<std::uint8_t>(word >> 8);
      const std::uint8_t low = static_cast<std::uint8_t>(word);
      same = same && high == data[i] && low == data[i + 1];
      if (read != nullptr) {
        read[i] = high;
        read[i + 1] = low;
      }
    }
    Flmcr1(d::kFlmcr1Swe);
    Wait(2);
    return same;
  }
  // The procedure for one unit: tries with reprogram data D OR NOT V, at
  // most `maxTries`; returns the tries taken, 0 when it failed.
  // With fromPrevious, the reprogram data is built from the previous
  // reprogram data instead (X OR NOT V), the rule an unstable cell defeats.
  unsigned Program(std::uint32_t base, const std::uint8_t* data, unsigned maxTries = 1000,
                   bool fromPrevious = false) {
    std::uint8_t reprogram[128], verify[128], additional[128];
    std::copy(data, data + 128, reprogram);
    Flmcr1(d::kFlmcr1Swe);
    Wait(1);
    for (unsigned n = 1; n <= maxTries; ++n) {
      Load(base, reprogram);
      Pulse(n <= 6 ? 30 : 200);
      const bool done = Verify(base, data, verify);
      for (unsigned i = 0; i < 128; ++i) {
        additional[i] = static_cast<std::uint8_t>(reprogram[i] | verify[i]);
        reprogram[i] =
            static_cast<std::uint8_t>((fromPrevious ? reprogram[i] : data[i]) | ~verify[i]);
      }
      if (n <= 6) {
        Load(base, additional);
        Pulse(10);
      }
      if (done) {
        Flmcr1(0);
        Wait(100);
        return n;
      }
    }
    Flmcr1(0);
    Wait(100);
    return 0;
  }
  States now() const { return now_; }

 private:
  FlashController& flash_;
  Watchdog& wdt_;
  States now_ = 1000;
};

std::uint8_t kData[128];

// Breaches of `rule`, each repetition counted.
unsigned Count(const FlashController& flash, FlashRule rule) {
  unsigned n = 0;
  for (const FlashViolation& v : flash.Violations()) {
    if (v.rule == rule) n += 1 + v.repeats;
  }
  return n;
}

class FlashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (unsigned i = 0; i < 128; ++i) kData[i] = static_cast<std::uint8_t>(i * 37 + 1);
    flash_.AttachWatchdog(&wdt_);
  }
  bool HasOnly(FlashRule rule) const {
    if (flash_.Violations().empty()) return false;
    for (const FlashViolation& v : flash_.Violations()) {
      if (v.rule != rule) return false;
    }
    return true;
  }
  FlashController flash_{kClock};
  Watchdog wdt_;
  Driver run_{flash_, wdt_};
};

TEST_F(FlashTest, CorrectSequenceProgramsTheUnitWithoutViolation) {
  EXPECT_EQ(run_.Program(0x1080, kData), 1u);
  EXPECT_EQ(flash_.ReadArray(0x1080, 1, run_.now()), kData[0]);
  EXPECT_EQ(flash_.Contents()[0x10FF], kData[127]);
  EXPECT_EQ(flash_.Contents()[0x107F], 0xFF);  // neighbours untouched
  EXPECT_EQ(flash_.Contents()[0x1100], 0xFF);
  EXPECT_EQ(flash_.Report(), "none");
  EXPECT_EQ(flash_.PulseCount(), 2u);  // the try's pulse and its additional pulse
}

TEST_F(FlashTest, ProgrammingOnlyClearsBits) {
  flash_.Contents()[0x200] = 0x0F;
  std::uint8_t data[128];
  std::fill(std::begin(data), std::end(data), 0xFF);
  data[0] = 0xF0;
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Load(0x200, data);
  run_.Pulse(30);
  EXPECT_EQ(flash_.Contents()[0x200], 0x00);
}

// The pulse of each try, with the additional pulse after it where asked.
struct TryPulses {
  double pulse;
  double additional;  // 0: none
};

TEST_F(FlashTest, EachPulseMustFitTheWindowOfItsTry) {
  struct Case {
    const char* name;
    std::vector<TryPulses> tries;
    std::vector<FlashRule> expected;  // in order
  } cases[] = {
      {"the edges of every window",
       {{28, 8}, {32, 12}, {30, 10}, {30, 10}, {30, 10}, {30, 10}, {198, 0}, {202, 0}},
       {}},
      {"a 30 us pulse in try 7",
       {{30, 10}, {30, 10}, {30, 10}, {30, 10}, {30, 10}, {30, 10}, {30, 0}},
       {FlashRule::kPulseTooShort}},
      {"a 200 us pulse in try 2", {{30, 10}, {200, 10}}, {FlashRule::kPulseTooLong}},
      {"just outside",
       {{27.5, 12.5}, {32.5, 7.5}},
       {FlashRule::kPulseTooShort, FlashRule::kPulseTooLong, FlashRule::kPulseTooLong,
        FlashRule::kPulseTooShort}},
      {"an additional pulse in try 7",
       {{30, 0}, {30, 0}, {30, 0}, {30, 0}, {30, 0}, {30, 0}, {200, 10}},
       {FlashRule::kOutOfOrder}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlashController flash(kClock);
    Watchdog wdt;
    flash.AttachWatchdog(&wdt);
    Driver run(flash, wdt);
    flash.NeverPrograms(0x40);  // the unit never verifies: every try is needed
    run.Flmcr1(d::kFlmcr1Swe);
    run.Wait(1);
    for (const TryPulses& t : c.tries) {
      run.Load(0, kData);
      run.Pulse(t.pulse);
      run.Verify(0, kData);
      if (t.additional > 0) {
        run.Load(0, kData);
        run.Pulse(t.additional);
      }
    }
    std::vector<FlashRule> seen;
    for (const FlashViolation& v : flash.Violations()) seen.push_back(v.rule);
    EXPECT_EQ(seen, c.expected) << flash.Report();
  }
}

TEST_F(FlashTest, TriesBeyondTheMaximumAndPulsesWithoutVerifyAreRecorded) {
  flash_.NeverPrograms(0x805);
  EXPECT_EQ(run_.Program(0x800, kData, 1000), 0u);
  EXPECT_EQ(flash_.Report(), "none");
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Load(0x800, kData);  // SWE was cleared: this starts the unit's programming again
  run_.Pulse(30);
  ASSERT_EQ(flash_.Violations().size(), 1u) << flash_.Report();
  EXPECT_EQ(flash_.Violations()[0].rule, FlashRule::kReprogramWithoutErase);

  FlashController flash(kClock);
  Watchdog wdt;
  flash.AttachWatchdog(&wdt);
  Driver run(flash, wdt);
  flash.NeverPrograms(0x05);
  EXPECT_EQ(run.Program(0, kData, 1001), 0u);
  ASSERT_EQ(flash.Violations().size(), 1u) << flash.Report();
  EXPECT_EQ(flash.Violations()[0].rule, FlashRule::kTooManyTries);
  EXPECT_EQ(flash.Violations()[0].address, 0u);
  run.Flmcr1(d::kFlmcr1Swe);  // a try's pulse straight after another, no verify between
  run.Wait(1);
  flash.EraseAll();
  run.Load(0x80, kData);
  run.Pulse(30);
  run.Load(0x80, kData);
  run.Pulse(30);
  EXPECT_EQ(flash.Violations().back().rule, FlashRule::kOutOfOrder) << flash.Report();
}

TEST_F(FlashTest, TheWatchdogMustRunThroughEveryPulseAndOutlastIt) {
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Load(0, kData);
  // Not started at all.
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
  run_.Wait(50);
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu | d::kFlmcr1P);
  run_.Wait(30);
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
  EXPECT_TRUE(HasOnly(FlashRule::kWatchdogNotGuarding)) << flash_.Report();
  run_.Wait(5);
  run_.Flmcr1(d::kFlmcr1Swe);
  // PSU set, P set, P cleared and PSU cleared without it.
  EXPECT_EQ(Count(flash_, FlashRule::kWatchdogNotGuarding), 4u) << flash_.Report();

  // Running, but due to overflow sooner after P is set than the pulse may
  // last; then stopped while P is set.
  FlashController flash(kClock);
  Watchdog wdt;
  flash.AttachWatchdog(&wdt);
  Driver run(flash, wdt);
  run.Flmcr1(d::kFlmcr1Swe);
  run.Wait(1);
  run.Load(0, kData);
  run.StartWatchdog(0xFF - 3);  // 3 to 4 counts of 512 states: at most 102 us
  run.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
  run.Wait(50);
  run.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu | d::kFlmcr1P);
  ASSERT_EQ(Count(flash, FlashRule::kWatchdogNotGuarding), 1u) << flash.Report();
  EXPECT_NE(flash.Report().find("overflows"), std::string::npos) << flash.Report();
  run.Wait(30);
  run.StopWatchdog();
  run.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
  EXPECT_EQ(Count(flash, FlashRule::kWatchdogNotGuarding), 2u) << flash.Report();
  run.Wait(5);
  run.Flmcr1(d::kFlmcr1Swe);
  EXPECT_EQ(Count(flash, FlashRule::kWatchdogNotGuarding), 3u) << flash.Report();
  for (const FlashViolation& v : flash.Violations()) {
    EXPECT_EQ(v.rule, FlashRule::kWatchdogNotGuarding) << flash.Report();
  }
}

TEST_F(FlashTest, LatchesAreLoadedWholeByBytesAndVerifyReadsAreWordsAfterTheirOwnDummy) {
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  // Word writes: one violation for the unit, however many writes.
  for (unsigned i = 0; i < 128; i += 2) flash_.WriteArray(0x100 + i, 0x1234, 2, run_.now());
  ASSERT_TRUE(HasOnly(FlashRule::kLatchNotByte)) << flash_.Report();
  EXPECT_EQ(flash_.Violations().size(), 1u);
  run_.Pulse(30);
  EXPECT_EQ(flash_.Violations().size(), 1u) << flash_.Report();
  run_.Verify(0x100, kData);
  // Half a unit loaded before the pulse.
  for (unsigned i = 0; i < 64; ++i) flash_.WriteArray(0x100 + i, 0x00, 1, run_.now());
  run_.Pulse(30);
  EXPECT_EQ(flash_.Violations().back().rule, FlashRule::kUnitNotLoaded) << flash_.Report();
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Pv);
  run_.Wait(4);
  const std::size_t before = flash_.Violations().size();
  flash_.WriteArray(0x100, 0xFF, 1, run_.now());  // a byte dummy write arms its word
  run_.Wait(2);
  flash_.ReadArray(0x100, 2, run_.now());
  EXPECT_EQ(flash_.Violations().size(), before) << flash_.Report();
  flash_.ReadArray(0x100, 2, run_.now());  // the dummy write was used up
  EXPECT_EQ(Count(flash_, FlashRule::kVerifyWithoutDummy), 1u);
  flash_.WriteArray(0x102, 0xFFFF, 2, run_.now());
  run_.Wait(2);
  flash_.ReadArray(0x103, 1, run_.now());  // a byte read
  EXPECT_EQ(flash_.Violations().back().rule, FlashRule::kVerifyNotWord);
  EXPECT_EQ(flash_.Violations().back().address, 0x103u);
  flash_.WriteArray(0x104, 0xFFFF, 2, run_.now());
  run_.Wait(2);
  flash_.ReadArray(0x106, 2, run_.now());  // dummy written to another word
  EXPECT_EQ(Count(flash_, FlashRule::kVerifyWithoutDummy), 2u) << flash_.Report();
  flash_.WriteArray(0x108, 0xFFFF, 2, run_.now());
  run_.Wait(2);
  flash_.ReadArray(0x108, 4,
                   run_.now());  // a longword: not a word, and the second word lacks its own
  EXPECT_EQ(Count(flash_, FlashRule::kVerifyNotWord), 2u) << flash_.Report();
  EXPECT_EQ(Count(flash_, FlashRule::kVerifyWithoutDummy), 2u) << flash_.Report();
}

TEST_F(FlashTest, AUnitIsProgrammedOnceBetweenErases) {
  EXPECT_EQ(run_.Program(0x200, kData), 1u);
  EXPECT_EQ(run_.Program(0x280, kData), 1u);
  EXPECT_EQ(flash_.Report(), "none");
  run_.Program(0x200, kData);
  ASSERT_EQ(flash_.Violations().size(), 1u) << flash_.Report();
  EXPECT_EQ(flash_.Violations()[0].rule, FlashRule::kReprogramWithoutErase);
  EXPECT_EQ(flash_.Violations()[0].address, 0x200u);
  flash_.EraseAll();
  EXPECT_EQ(run_.Program(0x200, kData), 1u);
  EXPECT_EQ(flash_.Violations().size(), 1u) << flash_.Report();
}

TEST_F(FlashTest, AnUnstableCellDefeatsReprogramDataBuiltOnThePreviousTry) {
  // A byte with several 0 bits, and one with a single 0 bit (then another
  // byte of the unit is held back to give the later verify).
  for (const std::uint8_t cell : {std::uint8_t{0x5A}, std::uint8_t{0xFE}}) {
    SCOPED_TRACE(static_cast<int>(cell));
    std::uint8_t data[128];
    std::copy(std::begin(kData), std::end(kData), data);
    data[9] = cell;
    FlashController right(kClock), wrong(kClock);
    Watchdog wdt1, wdt2;
    right.AttachWatchdog(&wdt1);
    wrong.AttachWatchdog(&wdt2);
    Driver runRight(right, wdt1), runWrong(wrong, wdt2);
    right.LosesChargeOnce(0x409);
    wrong.LosesChargeOnce(0x409);
    EXPECT_EQ(runRight.Program(0x400, data), 3u);
    EXPECT_TRUE(std::equal(data, data + 128, right.Contents().begin() + 0x400));
    EXPECT_EQ(right.Report(), "none");
    EXPECT_EQ(runWrong.Program(0x400, data, 20, /*fromPrevious=*/true), 0u);
    EXPECT_NE(wrong.Contents()[0x409], cell) << "the lost bits are never pulsed again";
  }
}

TEST_F(FlashTest, FlashAccessWhileAPulseRunsIsRecorded) {
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Load(0, kData);
  run_.StartWatchdog();
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
  run_.Wait(50);
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu | d::kFlmcr1P);
  flash_.ReadArray(0x2000, 1, run_.now());
  ASSERT_TRUE(HasOnly(FlashRule::kAccessDuringPulse)) << flash_.Report();
  EXPECT_EQ(flash_.Violations()[0].address, 0x2000u);
  EXPECT_TRUE(flash_.ReadRegister(d::kFlmcr2, run_.now()) & d::kFlmcr2Fler);
}

TEST_F(FlashTest, ShortWaitsAndMissingStepsAreRecorded) {
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Load(0, kData);
  run_.StartWatchdog();
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
  run_.Wait(20);  // 50 us needed before P
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu | d::kFlmcr1P);
  EXPECT_TRUE(HasOnly(FlashRule::kWaitTooShort)) << flash_.Report();
  run_.Wait(30);
  run_.Flmcr1(d::kFlmcr1Swe);                // P and PSU cleared together: no 5 us between them
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1P);  // P without PSU
  EXPECT_EQ(Count(flash_, FlashRule::kOutOfOrder), 1u) << flash_.Report();
}

TEST_F(FlashTest, InjectedSlowCellTakesOnItsNthPulseAndDeadCellNever) {
  flash_.NeedsPulses(0x805, 9);  // past the six short tries
  EXPECT_EQ(run_.Program(0x800, kData), 9u);
  flash_.NeverPrograms(0x890);
  EXPECT_EQ(run_.Program(0x880, kData, 12), 0u);
  EXPECT_EQ(flash_.Contents()[0x805], kData[5]);
  EXPECT_EQ(flash_.Contents()[0x891], kData[0x11]);
  EXPECT_EQ(flash_.Contents()[0x890], 0xFF);
  EXPECT_EQ(flash_.Report(), "none");
}

TEST_F(FlashTest, ErasePulseClearsTheSelectedBlocksOnly) {
  flash_.Contents()[0x0FFF] = 0x00;   // block 0
  flash_.Contents()[0x1000] = 0x00;   // block 1
  flash_.Contents()[0x10000] = 0x00;  // block 9
  flash_.WriteRegister(d::kEbr1, 0x01, run_.now());
  flash_.WriteRegister(d::kEbr2, 0x02, run_.now());
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Esu);
  run_.Wait(100);
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Esu | d::kFlmcr1E);
  run_.Wait(10000);
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Esu);
  EXPECT_EQ(flash_.Contents()[0x0FFF], 0xFF);
  EXPECT_EQ(flash_.Contents()[0x1000], 0x00);
  EXPECT_EQ(flash_.Contents()[0x10000], 0xFF);
  EXPECT_EQ(flash_.Report(), "none");
  // A pulse of 5 ms is too short.
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Esu | d::kFlmcr1E);
  run_.Wait(5000);
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Esu);
  EXPECT_TRUE(HasOnly(FlashRule::kPulseTooShort)) << flash_.Report();
}

TEST_F(FlashTest, BootEraseLeavesStuckCellsAndReportsNotBlank) {
  flash_.Contents()[0x10] = 0x00;
  EXPECT_TRUE(flash_.EraseAll());
  flash_.Contents()[0x3FFFF] = 0x12;
  flash_.NeverErases(0x3FFFF);
  EXPECT_FALSE(flash_.EraseAll());
}

}  // namespace
}  // namespace vantor::board
