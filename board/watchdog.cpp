#include "board/watchdog.h"

#include "board/h8s2215_device.h"

namespace vantor::board {

namespace d = device;

void Watchdog::Reset() {
  tcsr_ = 0x18;  // bits 4 and 3 are reserved and read as 1
  tcnt_ = 0;
  ovfRead_ = false;
  resetPending_ = false;
}

std::uint32_t Watchdog::Divisor() const {
  return d::kWdtDivisors[tcsr_ & d::kTcsrCksMask];
}

void Watchdog::AdvanceTo(States now) {
  if (now <= countedTo_) return;
  if (Running()) {
    // The prescaler runs freely from power-on; the counter takes each of its
    // edges while TME is 1.
    const States div = Divisor();
    States ticks = now / div - countedTo_ / div;
    while (ticks > 0) {
      const States toOverflow = 0x100u - tcnt_;
      if (ticks < toOverflow) {
        tcnt_ = static_cast<std::uint8_t>(tcnt_ + ticks);
        break;
      }
      ticks -= toOverflow;
      tcnt_ = 0;
      ++overflows_;
      if ((tcsr_ & d::kTcsrOvf) == 0) ovfRead_ = false;
      tcsr_ |= d::kTcsrOvf;
      if (WatchdogMode() && !resetPending_) {
        resetPending_ = true;
        resetAt_ = (now / div - ticks) * div;
      }
    }
  }
  countedTo_ = now;
}

States Watchdog::NextEvent() const {
  if (!Running()) return kNever;
  const States div = Divisor();
  return (countedTo_ / div + (0x100u - tcnt_)) * div;
}

std::uint8_t Watchdog::Read(unsigned offset, States now) {
  AdvanceTo(now);
  if (offset == 0) {
    if (tcsr_ & d::kTcsrOvf) ovfRead_ = true;
    return tcsr_;
  }
  return tcnt_;
}

void Watchdog::WriteWord(std::uint16_t value, States now) {
  AdvanceTo(now);
  const auto password = static_cast<std::uint8_t>(value >> 8);
  const auto data = static_cast<std::uint8_t>(value & 0xFF);
  if (password == d::kWdtTcsrPassword) {
    std::uint8_t ovf = tcsr_ & d::kTcsrOvf;
    if ((data & d::kTcsrOvf) == 0 && ovfRead_) {
      ovf = 0;
      ovfRead_ = false;
    }
    const bool wasRunning = Running();
    tcsr_ = static_cast<std::uint8_t>(
        ovf | (data & (d::kTcsrWtIt | d::kTcsrTme | d::kTcsrCksMask)) | 0x18);
    if (wasRunning && !Running()) tcnt_ = 0;  // stopping the timer clears the counter
  } else if (password == d::kWdtTcntPassword) {
    tcnt_ = data;
  } else {
    ++refused_;
  }
}

void Watchdog::WriteByte(unsigned, std::uint8_t, States now) {
  AdvanceTo(now);
  ++refused_;
}

bool Watchdog::TakeResetRequest(States& at) {
  if (!resetPending_) return false;
  resetPending_ = false;
  at = resetAt_;
  return true;
}

}  // namespace vantor::board
