// The watchdog timer: TCSR (OVF, WT/IT, TME, CKS2..0) and the 8-bit counter
// TCNT, counting phi divided by 2, 64, 128, 512, 2048, 8192, 32768 or
// 131072 while TME is 1.
//
// Both registers are written only as a word at TCSR's address, whose upper
// byte selects the register: H'A5 writes the lower byte to TCSR, H'5A to
// TCNT. A byte write, or a word with another upper byte, changes nothing and
// is counted as refused. OVF clears by reading it as 1 and writing 0.
// On overflow (TCNT from H'FF to H'00) OVF is set; in watchdog timer mode
// (WT/IT 1) the overflow also resets the chip, which the board takes from
// TakeOverflow.
#pragma once

#include <cstdint>

#include "board/emulated_time.h"

namespace vantor::board {

class Watchdog {
 public:
  Watchdog() { Reset(); }
  void Reset();

  // Byte reads: offset 0 TCSR, 1 TCNT.
  std::uint8_t Read(unsigned offset, States now);
  // A word written at TCSR's address.
  void WriteWord(std::uint16_t value, States now);
  // A byte written at offset 0 or 1: refused, as on the chip.
  void WriteByte(unsigned offset, std::uint8_t value, States now);

  void AdvanceTo(States now);
  // When the counter next overflows; kNever while it is stopped.
  States NextEvent() const;

  bool Running() const { return (tcsr_ & 0x20) != 0; }
  bool WatchdogMode() const { return (tcsr_ & 0x40) != 0; }
  std::uint32_t Divisor() const;
  unsigned RefusedWrites() const { return refused_; }
  unsigned OverflowCount() const { return overflows_; }
  // An overflow in watchdog timer mode since the last call: true once, with
  // the time it happened.
  bool TakeResetRequest(States& at);

 private:
  std::uint8_t tcsr_ = 0x18, tcnt_ = 0;
  bool ovfRead_ = false;
  States countedTo_ = 0;  // time up to which the counter is current
  unsigned refused_ = 0, overflows_ = 0;
  bool resetPending_ = false;
  States resetAt_ = 0;
};

}  // namespace vantor::board
