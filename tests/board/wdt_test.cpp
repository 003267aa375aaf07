// The watchdog timer: write protocol, counting, overflow.
#include "board/watchdog.h"

#include <gtest/gtest.h>

#include "board/h8s2215_device.h"

namespace vantor::board {
namespace {

namespace d = device;

std::uint16_t Tcsr(std::uint8_t value) {
  return static_cast<std::uint16_t>(0xA500 | value);
}
std::uint16_t Tcnt(std::uint8_t value) {
  return static_cast<std::uint16_t>(0x5A00 | value);
}

TEST(WdtTest, OnlyPasswordWordWritesReachTheRegisters) {
  Watchdog wdt;
  wdt.WriteByte(0, d::kTcsrTme, 0);
  wdt.WriteWord(0x1234, 0);
  EXPECT_FALSE(wdt.Running());
  EXPECT_EQ(wdt.RefusedWrites(), 2u);
  wdt.WriteWord(Tcnt(0x80), 0);
  EXPECT_EQ(wdt.Read(1, 0), 0x80);
  wdt.WriteWord(Tcsr(d::kTcsrTme | 3), 0);
  EXPECT_TRUE(wdt.Running());
  EXPECT_EQ(wdt.Divisor(), 512u);
  EXPECT_EQ(wdt.Read(0, 0), d::kTcsrTme | 3 | 0x18);
}

TEST(WdtTest, CountsAtTheSelectedClockAndOverflowsAfter256Counts) {
  Watchdog wdt;
  wdt.WriteWord(Tcsr(d::kTcsrWtIt | d::kTcsrTme | 3), 0);  // phi/512, watchdog mode
  EXPECT_EQ(wdt.Read(1, 511), 0);
  EXPECT_EQ(wdt.Read(1, 512), 1);
  EXPECT_EQ(wdt.NextEvent(), 256u * 512u);
  States at = 0;
  wdt.AdvanceTo(256 * 512 - 1);
  EXPECT_FALSE(wdt.TakeResetRequest(at));
  wdt.AdvanceTo(256 * 512);
  ASSERT_TRUE(wdt.TakeResetRequest(at));
  EXPECT_EQ(at, 256u * 512u);
  EXPECT_TRUE(wdt.Read(0, 256 * 512) & d::kTcsrOvf);
  EXPECT_FALSE(wdt.TakeResetRequest(at));  // reported once
}

TEST(WdtTest, RewritingTheCounterKeepsItFromOverflowing) {
  Watchdog wdt;
  wdt.WriteWord(Tcsr(d::kTcsrWtIt | d::kTcsrTme | 3), 0);
  for (States t = 0; t < 10 * 256 * 512; t += 100 * 512) {
    wdt.WriteWord(Tcnt(0), t);
  }
  States at = 0;
  EXPECT_FALSE(wdt.TakeResetRequest(at));
  EXPECT_EQ(wdt.OverflowCount(), 0u);
  // Stopping clears the counter.
  wdt.WriteWord(Tcsr(3), 10 * 256 * 512 + 5000);
  EXPECT_EQ(wdt.Read(1, 10 * 256 * 512 + 5000), 0);
  EXPECT_EQ(wdt.NextEvent(), kNever);
}

TEST(WdtTest, IntervalModeOverflowSetsOvfWhichClearsByReadThenWriteZero) {
  Watchdog wdt;
  wdt.WriteWord(Tcsr(d::kTcsrTme | 0), 0);  // phi/2, interval mode
  wdt.AdvanceTo(512);
  States at = 0;
  EXPECT_FALSE(wdt.TakeResetRequest(at));  // no reset in interval mode
  wdt.WriteWord(Tcsr(d::kTcsrTme), 512);   // without reading OVF first: stays
  EXPECT_TRUE(wdt.Read(0, 512) & d::kTcsrOvf);
  wdt.WriteWord(Tcsr(d::kTcsrTme), 513);
  EXPECT_FALSE(wdt.Read(0, 513) & d::kTcsrOvf);
}

}  // namespace
}  // namespace vantor::board
