// The flash controller driven through its register and array interface:
// what the assembled programs of chip_flash_program_test.cpp do not reach
// (the accepted pulse lengths, the waits between steps, steps out of order,
// injected faults). Each rule broken by a program is tested there.
#include "board/flash_controller.h"

#include <gtest/gtest.h>

#include "board/h8s2215_device.h"

namespace vantor::board {
namespace {

namespace d = device;

constexpr std::uint32_t kClock = 20000000;  // 20 states a microsecond

// Drives the controller step by step with a clock of its own.
class Driver {
 public:
  explicit Driver(FlashController& flash) : flash_(flash) {}
  void Wait(double micros) { now_ += static_cast<States>(micros * 20); }
  void Flmcr1(std::uint8_t value) { flash_.WriteRegister(d::kFlmcr1, value, now_); }
  void Load(std::uint32_t base, const std::uint8_t* data) {
    for (unsigned i = 0; i < 128; i += 2) {
      flash_.WriteArray(base + i, static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]), 2, now_);
    }
  }
  // One program pulse of `micros` with the waits around it.
  void Pulse(double micros) {
    Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
    Wait(50);
    Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu | d::kFlmcr1P);
    Wait(micros);
    Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
    Wait(5);
    Flmcr1(d::kFlmcr1Swe);
    Wait(5);
  }
  // Program verify of the unit: true when it reads back as `data`.
  bool Verify(std::uint32_t base, const std::uint8_t* data) {
    Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Pv);
    Wait(4);
    bool same = true;
    for (unsigned i = 0; i < 128; i += 4) {
      flash_.WriteArray(base + i, 0xFFFFFFFF, 4, now_);
      Wait(2);
      const std::uint32_t read = flash_.ReadArray(base + i, 4, now_);
      for (unsigned k = 0; k < 4; ++k) {
        same = same && static_cast<std::uint8_t>(read >> (24 - 8 * k)) == data[i + k];
      }
    }
    Flmcr1(d::kFlmcr1Swe);
    Wait(2);
    return same;
  }
  States now() const { return now_; }

 private:
  FlashController& flash_;
  States now_ = 1000;
};

std::uint8_t kData[128];

class FlashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (unsigned i = 0; i < 128; ++i) kData[i] = static_cast<std::uint8_t>(i * 37 + 1);
  }
  bool HasOnly(FlashRule rule) const {
    if (flash_.Violations().empty()) return false;
    for (const FlashViolation& v : flash_.Violations()) {
      if (v.rule != rule) return false;
    }
    return true;
  }
  FlashController flash_{kClock};
  Driver run_{flash_};
};

TEST_F(FlashTest, CorrectSequenceProgramsTheUnitWithoutViolation) {
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Load(0x1080, kData);
  run_.Pulse(30);
  EXPECT_TRUE(run_.Verify(0x1080, kData));
  run_.Flmcr1(0);
  run_.Wait(100);
  EXPECT_EQ(flash_.ReadArray(0x1080, 1, run_.now()), kData[0]);
  EXPECT_EQ(flash_.Contents()[0x10FF], kData[127]);
  EXPECT_EQ(flash_.Contents()[0x107F], 0xFF);  // neighbours untouched
  EXPECT_EQ(flash_.Contents()[0x1100], 0xFF);
  EXPECT_EQ(flash_.Report(), "none");
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

TEST_F(FlashTest, PulseOutsideItsWindowIsRecorded) {
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Load(0, kData);
  run_.Pulse(25);  // below 30 us - 10 %
  ASSERT_TRUE(HasOnly(FlashRule::kPulseTooShort)) << flash_.Report();
  EXPECT_EQ(flash_.Violations()[0].address, 0u);
  run_.Load(0, kData);
  run_.Pulse(240);  // above 200 us + 10 %
  EXPECT_EQ(flash_.Violations().back().rule, FlashRule::kPulseTooLong);
  // Each of the three pulse lengths is accepted.
  const std::size_t before = flash_.Violations().size();
  for (double micros : {10.0, 30.0, 200.0, 10.5, 28.0}) run_.Pulse(micros);
  EXPECT_EQ(flash_.Violations().size(), before) << flash_.Report();
}

TEST_F(FlashTest, FlashAccessWhileAPulseRunsIsRecorded) {
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  run_.Load(0, kData);
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
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu);
  run_.Wait(20);  // 50 us needed before P
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1Psu | d::kFlmcr1P);
  EXPECT_TRUE(HasOnly(FlashRule::kWaitTooShort)) << flash_.Report();
  run_.Wait(30);
  run_.Flmcr1(d::kFlmcr1Swe);                // P and PSU cleared together: no 5 us between them
  run_.Flmcr1(d::kFlmcr1Swe | d::kFlmcr1P);  // P without PSU
  EXPECT_EQ(flash_.Violations().back().rule, FlashRule::kOutOfOrder);
}

TEST_F(FlashTest, InjectedSlowCellTakesOnItsNthPulseAndDeadCellNever) {
  flash_.NeedsPulses(0x805, 3);
  flash_.NeverPrograms(0x810);
  run_.Flmcr1(d::kFlmcr1Swe);
  run_.Wait(1);
  int pulses = 0;
  do {
    run_.Load(0x800, kData);
    run_.Pulse(30);
    ++pulses;
  } while (flash_.Contents()[0x805] != kData[5] && pulses < 10);
  EXPECT_EQ(pulses, 3);
  EXPECT_EQ(flash_.Contents()[0x804], kData[4]);
  EXPECT_EQ(flash_.Contents()[0x810], 0xFF);
  EXPECT_FALSE(run_.Verify(0x800, kData));
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
