// The state counter and its timed events.
#include "board/scheduler.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantor::board {
namespace {

TEST(Scheduler, EventsRunInTimeThenSchedulingOrder) {
  Scheduler s;
  std::vector<int> order;
  s.At(30, [&] { order.push_back(3); });
  s.At(10, [&] { order.push_back(1); });
  s.At(10, [&] { order.push_back(2); });
  const auto cancelled = s.At(20, [&] { order.push_back(99); });
  s.Cancel(cancelled);
  EXPECT_EQ(s.nextEventTime(), 10u);
  s.Advance(9);
  EXPECT_EQ(s.RunDue(), 0);
  s.Advance(25);
  EXPECT_EQ(s.RunDue(), 3);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(s.nextEventTime(), Scheduler::kNever);
}

TEST(Scheduler, EventsScheduledByEventsForNowRunToo) {
  Scheduler s;
  int runs = 0;
  s.At(5, [&] {
    ++runs;
    s.After(0, [&] { ++runs; });
    s.After(10, [&] { ++runs; });
  });
  s.Advance(5);
  EXPECT_EQ(s.RunDue(), 2);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(s.nextEventTime(), 15u);
}

TEST(Scheduler, SkipStopsAtTheNextEventOrTheLimit) {
  Scheduler s;
  s.At(1000, [] {});
  EXPECT_EQ(s.SkipToNextEvent(400), 400u);
  EXPECT_EQ(s.now(), 400u);
  EXPECT_EQ(s.SkipToNextEvent(), 600u);
  EXPECT_EQ(s.now(), 1000u);
  EXPECT_TRUE(s.Due());
  EXPECT_EQ(s.SkipToNextEvent(), 0u);
}

TEST(Scheduler, ConvertsMicrosecondsAtTheClock) {
  Scheduler s;                                // 19.968 MHz
  EXPECT_EQ(s.StatesFromMicros(1.0), 20u);    // 19.968 rounded up
  EXPECT_EQ(s.StatesFromMicros(50.0), 999u);  // 998.4
  s.set_clockHz(10e6);
  EXPECT_EQ(s.StatesFromMicros(30.0), 300u);
  EXPECT_DOUBLE_EQ(s.MicrosFromStates(300), 30.0);
}

}  // namespace
}  // namespace vantor::board
