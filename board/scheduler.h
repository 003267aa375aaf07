// Emulated time of the virtual board, counted in states of the system clock
// φ, and the timed events the peripherals hang on it.
//
// The core adds the states of every instruction (Advance) and fires the
// events that have come due between instructions (RunDue). A peripheral that
// sees the core only polling (say, an empty receiver) may jump time forward
// to the next event with SkipToNextEvent, so the board runs idle stretches at
// once instead of instruction by instruction.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace vantor::board {

class Scheduler {
 public:
  using EventId = std::uint64_t;
  using Callback = std::function<void()>;
  static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
  static constexpr double kDefaultClockHz = 19'968'000.0;

  // The states counted so far.
  std::uint64_t now() const { return now_; }
  // Adds states; events that come due are fired by the next RunDue.
  void Advance(std::uint64_t states) { now_ += states; }

  // Schedules `callback` to run when the count reaches `when` (at once, at
  // the next RunDue, when `when` is already past). Events due at the same
  // time run in the order they were scheduled.
  EventId At(std::uint64_t when, Callback callback);
  EventId After(std::uint64_t delay, Callback callback) {
    return At(now_ + delay, std::move(callback));
  }
  // Cancels an event that has not run; harmless otherwise.
  void Cancel(EventId id);

  // When the earliest pending event is due, or kNever.
  std::uint64_t nextEventTime() const { return nextDue_; }
  bool Due() const { return now_ >= nextDue_; }
  // Runs every event due by now, including ones those events schedule for
  // the same time. Returns the number run.
  int RunDue();
  // Moves time forward to the next event, but not past `limit`; returns the
  // states skipped. Does not run the event.
  std::uint64_t SkipToNextEvent(std::uint64_t limit = kNever);

  // The system clock the states are counted in (default 19.968 MHz).
  double clockHz() const { return clockHz_; }
  void set_clockHz(double hz) { clockHz_ = hz; }
  // Conversions at the current clock; StatesFromMicros rounds up.
  std::uint64_t StatesFromMicros(double micros) const;
  double MicrosFromStates(std::uint64_t states) const;

 private:
  struct Event {
    std::uint64_t when;
    EventId id;
    Callback callback;
  };
  void Recompute();

  std::uint64_t now_ = 0;
  std::uint64_t nextDue_ = kNever;
  EventId nextId_ = 1;
  double clockHz_ = kDefaultClockHz;
  std::vector<Event> events_;  // unordered; few at a time
};

}  // namespace vantor::board
