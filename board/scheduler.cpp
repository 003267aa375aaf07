#include "board/scheduler.h"

#include <algorithm>
#include <cmath>

namespace vantor::board {

Scheduler::EventId Scheduler::At(std::uint64_t when, Callback callback) {
  const EventId id = nextId_++;
  events_.push_back(Event{when, id, std::move(callback)});
  nextDue_ = std::min(nextDue_, when);
  return id;
}

void Scheduler::Cancel(EventId id) {
  std::erase_if(events_, [id](const Event& e) { return e.id == id; });
  Recompute();
}

void Scheduler::Recompute() {
  nextDue_ = kNever;
  for (const Event& e : events_) nextDue_ = std::min(nextDue_, e.when);
}

int Scheduler::RunDue() {
  int run = 0;
  while (nextDue_ <= now_) {
    // The earliest event, first scheduled among equals (ids grow).
    auto best = events_.begin();
    for (auto it = events_.begin(); it != events_.end(); ++it) {
      if (it->when < best->when || (it->when == best->when && it->id < best->id)) best = it;
    }
    Callback callback = std::move(best->callback);
    events_.erase(best);
    Recompute();
    callback();
    ++run;
  }
  return run;
}

std::uint64_t Scheduler::SkipToNextEvent(std::uint64_t limit) {
  const std::uint64_t target = std::min(nextDue_, limit);
  if (target <= now_) return 0;
  const std::uint64_t skipped = target - now_;
  now_ = target;
  return skipped;
}

std::uint64_t Scheduler::StatesFromMicros(double micros) const {
  return static_cast<std::uint64_t>(std::ceil(micros * clockHz_ / 1e6 - 1e-9));
}

double Scheduler::MicrosFromStates(std::uint64_t states) const {
  return static_cast<double>(states) * 1e6 / clockHz_;
}

}  // namespace vantor::board
