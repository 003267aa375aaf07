// The fast line over the in-memory line: which rate is chosen for a chip
// clock and a port, and the switch with its probe and its way back, against
// the chip player, whose SCI garbles bytes between ends at different rates.
#include "link/line_rate.h"
#include "link/embedded_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/load_image.h"
#include "link/serial_link.h"
#include "link/target_commands.h"
#include "tests/support/chip_on_fake_line.h"

namespace vantor {
namespace {

using testing::ChipOnFakeLine;
using testing::ChipPlayer;
using Fault = ChipPlayer::Fault;

constexpr std::uint32_t kClock = 19968000;

TEST(ChipSetting, NearestSettingWithinTwoPercentOrNone) {
  struct Case {
    std::uint32_t clockHz, rate;
    bool reached;
    unsigned brr, select;
  };
  const Case cases[] = {
      {kClock, 9600, true, 64, 0},    // the boot rate, exactly
      {kClock, 312000, true, 1, 0},   // exact
      {kClock, 624000, true, 0, 0},   // the SCI's fastest
      {kClock, 57600, true, 10, 0},   // 56727: -1.5 %
      {kClock, 115200, false, 0, 0},  // 124800 or 104000: 8 % off
      {kClock, 921600, false, 0, 0},  // above the fastest
      {kClock, 1200, true, 129, 1},   // needs the clock divided by 4
      {4000000, 125000, true, 0, 0},  {4000000, 19200, false, 0, 0},   // 20833 or 17857
      {16000000, 500000, true, 0, 0}, {16000000, 38400, true, 12, 0},  // 38462: +0.16 %
      {0, 9600, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.clockHz) + " Hz, " + std::to_string(c.rate) + " bit/s");
    ChipRateSetting setting;
    ASSERT_EQ(ChipSettingFor(c.clockHz, c.rate, setting), c.reached);
    if (!c.reached) continue;
    EXPECT_EQ(setting.brr, c.brr);
    EXPECT_EQ(setting.clockSelect, c.select);
    EXPECT_NEAR(setting.chipRate, c.rate, c.rate * 0.02);
  }
}

class LineRateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLineRate();
    rig_.chip.SetFault(Fault::kNone);
  }
  void TearDown() override { SetLineRateRequest({}); }

  // The chip in its command loop after write mode, as the write leaves it.
  void EnterCommandLoop() {
    ASSERT_EQ(CheckTargetId(), kOk);
    ASSERT_EQ(EnterWriteMode(), kOk);
    rig_.line.ClearLog();
  }

  ChipOnFakeLine rig_{[] {
    ChipPlayer::Options options;
    options.programRunning = true;
    return options;
  }()};
};

TEST_F(LineRateTest, FastestIsTheHighestRateBothEndsReachAndThePortEndsAt9600) {
  LineRatePlan plan;
  const LineRateRequest fastest{LineRateMode::kFastest, 0};

  // Standard rates only: 57600 is the only one the chip comes near.
  ASSERT_EQ(ChooseLineRate(kClock, fastest, plan), kOk);
  EXPECT_EQ(plan.rate, 57600u);
  EXPECT_EQ(plan.setting.brr, 10);
  EXPECT_EQ(rig_.line.Settings().baudRate, 9600u);
  EXPECT_EQ(rig_.line.RateRequests().back(), 9600u);

  // Free rates: the chip's own fastest, then the next when the port refuses.
  rig_.line.SetTakesAnyRate(true);
  ASSERT_EQ(ChooseLineRate(kClock, fastest, plan), kOk);
  EXPECT_EQ(plan.rate, 624000u);
  rig_.line.RefuseRate(624000);
  ASSERT_EQ(ChooseLineRate(kClock, fastest, plan), kOk);
  EXPECT_EQ(plan.rate, 312000u);
  EXPECT_EQ(plan.setting.brr, 1);
  EXPECT_EQ(rig_.line.Settings().baudRate, 9600u);

  // At 4 MHz no standard rate comes within 2 %: the line stays at 9600.
  rig_.line.SetTakesAnyRate(false);
  ASSERT_EQ(ChooseLineRate(4000000, fastest, plan), kOk);
  EXPECT_EQ(plan.rate, 9600u);
  EXPECT_TRUE(rig_.line.Sent().empty());  // choosing sends nothing
}

TEST_F(LineRateTest, RequestedRateTheChipOrThePortCannotTakeFailsBeforeAnythingIsSent) {
  LineRatePlan plan;
  EXPECT_EQ(ChooseLineRate(kClock, {LineRateMode::kRequested, 115200}, plan), kRateUnreachable);
  EXPECT_TRUE(rig_.line.RateRequests().empty());  // the port was not even tried
  rig_.line.RefuseRate(57600);
  EXPECT_EQ(ChooseLineRate(kClock, {LineRateMode::kRequested, 57600}, plan), kRateRefusedByPort);
  EXPECT_EQ(rig_.line.Settings().baudRate, 9600u);
  ASSERT_EQ(ChooseLineRate(kClock, {LineRateMode::kRequested, 38400}, plan), kOk);
  EXPECT_EQ(plan.rate, 38400u);
  EXPECT_EQ(plan.setting.brr, 15);
  EXPECT_TRUE(rig_.line.Sent().empty());
}

TEST_F(LineRateTest, SwitchMovesBothEndsAndBlocksGoAtTheNewRate) {
  EnterCommandLoop();
  rig_.line.SetTakesAnyRate(true);
  LineRatePlan plan;
  ASSERT_EQ(ChooseLineRate(kClock, {LineRateMode::kFastest, 0}, plan), kOk);
  bool fellBack = true;
  ASSERT_EQ(SwitchLineRate(plan, fellBack), kOk);
  EXPECT_FALSE(fellBack);
  // 0xCB, the rate switch carrying clock select 0 and N = 0, its sum, the probe.
  const std::vector<std::uint8_t>& sent = rig_.line.Sent();
  ASSERT_EQ(sent.size(), 1 + kRateSwitchSize + 1 + 1);
  EXPECT_EQ(sent.front(), 0xCB);
  EXPECT_EQ(sent[1 + kRateSwitchSettingOffset], 0x00);
  EXPECT_EQ(sent[2 + kRateSwitchSettingOffset], 0x00);
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < kRateSwitchSize; ++i)
    sum = static_cast<std::uint8_t>(sum + sent[1 + i]);
  EXPECT_EQ(sent[1 + kRateSwitchSize], sum);
  EXPECT_EQ(sent.back(), 0x55);
  EXPECT_EQ(CurrentLineRate(), 624000u);
  EXPECT_EQ(rig_.line.Settings().baudRate, 624000u);
  EXPECT_EQ(rig_.chip.RateSwitches(), 1u);

  std::fill(LoadImage, LoadImage + kLoadImageSize, std::uint8_t{0xFF});
  for (unsigned i = 0; i < 128; ++i) LoadImage[0x100 + i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(WriteBlockAt(0x100), kOk);
  EXPECT_EQ(rig_.chip.GarbledBytes(), 0u);
  EXPECT_EQ(rig_.chip.Image()[0x100 + 5], 35);
  EXPECT_EQ(rig_.chip.ProtocolError(), "");
}

// Every way a switch can go wrong ends with both ends at 9600 bit/s and the
// chip answering there, or with the code of a chip that no longer answers.
TEST_F(LineRateTest, FailedSwitchFallsBackTo9600AndConfirmsTheChip) {
  struct Case {
    const char* what;
    Fault fault;
    bool wrongSetting;      // the chip is told another rate than the port gets
    bool portRefusesLater;  // the port refuses the rate after the chip said yes
    ErrorCode code;
  };
  const Case cases[] = {
      {"the chip takes no probe", Fault::kSwitchNoProbe, false, false, kOk},
      {"the chip refuses the command", Fault::kSwitchRefused, false, false, kOk},
      {"chip and port at different rates", Fault::kNone, true, false, kOk},
      {"the chip answers wrongly at 9600", Fault::kIdWrong, true, false, kBlockNoReply},
      // last: the line keeps refusing the rate from here on
      {"the port refuses the rate", Fault::kNone, false, true, kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetLineRate();
    rig_.chip.SetFault(Fault::kNone);
    EnterCommandLoop();
    LineRatePlan plan;
    ASSERT_EQ(ChooseLineRate(kClock, {LineRateMode::kRequested, 57600}, plan), kOk);
    if (c.wrongSetting) plan.setting.brr = 12;  // the chip goes to 48000
    if (c.portRefusesLater) rig_.line.RefuseRate(57600);
    rig_.chip.SetFault(c.fault);
    const std::uint64_t start = rig_.line.Now();

    bool fellBack = false;
    EXPECT_EQ(SwitchLineRate(plan, fellBack), c.code);
    EXPECT_TRUE(fellBack);
    EXPECT_EQ(CurrentLineRate(), 9600u);
    EXPECT_EQ(rig_.line.Settings().baudRate, 9600u);
    EXPECT_NEAR(rig_.chip.ChipRate(), 9600.0, 1.0);
    // The host waited out the chip's probe window before it asked again.
    EXPECT_GE(rig_.line.Now() - start, kFallBackWaitMs);
    const std::vector<std::uint8_t>& sent = rig_.line.Sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), 0xC0);
    if (c.wrongSetting) {
      EXPECT_GT(rig_.chip.GarbledBytes(), 0u);
    }
    if (c.code == kOk) {
      EXPECT_EQ(CheckTargetId(), kOk);  // the chip goes on at 9600
    }
  }
}

}  // namespace
}  // namespace vantor
