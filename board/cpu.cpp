#include "board/cpu.h"

#include <cstring>

namespace vantor::board {

Cpu::Cpu(MemoryBus& bus, Scheduler& scheduler) : bus_(bus), scheduler_(scheduler) {
  std::memset(pendingPriority_, -1, sizeof pendingPriority_);
}

void Cpu::Reset() {
  stopped_ = false;
  sleeping_ = false;
  stopReason_ = StopReason::kNone;
  stopMessage_.clear();
  ccr_ |= kCcrI;
  exr_ = kExrMask;
  pc_ = bus_.Read32(0) & 0xFFFFFE;
  scheduler_.Advance(bus_.TakeAccessStates());
}

void Cpu::RequestStop(std::string message) {
  stopped_ = true;
  stopReason_ = StopReason::kRequested;
  stopMessage_ = std::move(message);
}

void Cpu::ClearStop() {
  stopped_ = false;
  stopReason_ = StopReason::kNone;
  stopMessage_.clear();
}

void Cpu::RaiseInterrupt(int vector, int priority) {
  if (vector < 0 || vector >= kVectors) return;
  if (pendingPriority_[vector] < 0) ++pendingCount_;
  pendingPriority_[vector] = static_cast<signed char>(priority);
}

void Cpu::ClearInterrupt(int vector) {
  if (vector < 0 || vector >= kVectors || pendingPriority_[vector] < 0) return;
  pendingPriority_[vector] = -1;
  --pendingCount_;
}

unsigned Cpu::Step() {
  return 0;
}

StopReason Cpu::Run(std::uint64_t untilState) {
  while (!stopped_ && scheduler_.now() < untilState) {
    if (Step() == 0) break;
  }
  return stopReason_;
}

}  // namespace vantor::board
