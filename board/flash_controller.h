// The on-chip flash memory and its controller: FLMCR1, FLMCR2, EBR1, EBR2,
// the 128-byte program latches, program (PSU, P), program verify (PV with
// its dummy write) and erase (ESU, E, EV).
//
// The controller checks the procedure as the CPU drives it and records every
// breach as a violation with its time and address: a program or erase pulse
// outside its window, programming without SWE, a verify read without the
// dummy write, latch writes that do not fill one unit aligned to 128, flash
// access while a pulse runs, a wait shorter than its minimum, a watchdog
// overflow while SWE is set. The windows are in h8s2215_device.h and
// docs/firmware.md. Programming only turns 1 bits into 0. Fault injection
// makes chosen cells need several pulses, never program, or never erase.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "board/emulated_time.h"

namespace vantor::board {

enum class FlashRule {
  kPulseTooShort,
  kPulseTooLong,
  kWithoutSwe,          // latch write, PSU, P or E with SWE clear
  kVerifyWithoutDummy,  // verify read not preceded by an H'FF dummy write there
  kUnalignedUnit,       // latch writes not starting at a multiple of 128 / leaving the unit
  kAccessDuringPulse,   // flash read or written while P or E is set
  kWatchdogOverflow,    // the watchdog overflowed while SWE was set
  kWaitTooShort,        // a minimum wait between two steps not kept
  kOutOfOrder,          // a step without the one before it (P without PSU, ...)
};

const char* FlashRuleName(FlashRule rule);

struct FlashViolation {
  States at;
  std::uint32_t address;
  FlashRule rule;
  std::string detail;
};

class FlashController {
 public:
  explicit FlashController(std::uint32_t clockHz);

  void SetClock(std::uint32_t clockHz) { clockHz_ = clockHz; }
  // Registers to their reset state; the flash keeps its contents.
  void PowerOn();
  // The flash-write-enable pin, read as FLMCR1's FWE; SWE cannot be set
  // while it is low. High in boot mode.
  void SetWriteEnablePin(bool high) { fwePin_ = high; }

  std::vector<std::uint8_t>& Contents() { return cells_; }
  const std::vector<std::uint8_t>& Contents() const { return cells_; }
  bool IsBlank() const;

  // Fault injection, by flash address.
  void NeedsPulses(std::uint32_t address, unsigned pulses) { slowCells_[address] = pulses; }
  void NeverPrograms(std::uint32_t address) { deadCells_.insert(address); }
  void NeverErases(std::uint32_t address) { stuckCells_.insert(address); }
  // The flash's error protection trips at the end of the pulse that brings
  // PulseCount() to `pulse`: FLER is set and that pulse programs nothing.
  void ErrorProtectionAtPulse(unsigned pulse) { errorAtPulse_ = pulse; }
  bool ErrorProtected() const { return (flmcr2_ & 0x80) != 0; }

  // Registers FLMCR1..EBR2 by address.
  std::uint8_t ReadRegister(std::uint32_t address, States now);
  void WriteRegister(std::uint32_t address, std::uint8_t value, States now);

  // The CPU's access to the flash array (size 1, 2 or 4, big-endian).
  std::uint32_t ReadArray(std::uint32_t address, unsigned size, States now);
  void WriteArray(std::uint32_t address, std::uint32_t value, unsigned size, States now);

  // The watchdog overflowed at `now`.
  void WatchdogOverflow(States now);

  // The boot ROM's erase of the whole flash; true when it is blank after.
  bool EraseAll();

  bool SweSet() const { return (flmcr1_ & 0x40) != 0; }
  // True while a pulse runs: the CPU must not touch the flash.
  bool PulseRunning() const { return (flmcr1_ & 0x03) != 0; }

  const std::vector<FlashViolation>& Violations() const { return violations_; }
  // The violations as lines of text ("none" when there are none).
  std::string Report() const;
  unsigned PulseCount() const { return pulses_; }

 private:
  void Violate(States now, std::uint32_t address, FlashRule rule, std::string detail);
  void CheckWait(States now, States since, std::uint32_t minNs, const char* what);
  void EndProgramPulse(States now);
  void EndErasePulse(States now);
  double Ns(States from, States to) const;

  std::uint32_t clockHz_;
  std::vector<std::uint8_t> cells_;
  bool fwePin_ = true;
  std::uint8_t flmcr1_ = 0, flmcr2_ = 0, ebr1_ = 0, ebr2_ = 0;

  // Step times; kNever when the step has not happened since power-on.
  States sweSetAt_ = kNever, sweClearAt_ = kNever, psuSetAt_ = kNever, psuClearAt_ = kNever;
  States pSetAt_ = kNever, pClearAt_ = kNever, pvSetAt_ = kNever, pvClearAt_ = kNever;
  States esuSetAt_ = kNever, eSetAt_ = kNever;

  // The program latches: the unit being loaded and its bytes.
  bool unitOpen_ = false;
  std::uint32_t unitBase_ = 0;
  std::uint8_t latch_[128];

  // Verify: the 4-byte group the last dummy write armed, and when.
  bool dummyArmed_ = false;
  std::uint32_t dummyGroup_ = 0;
  States dummyAt_ = 0;

  std::map<std::uint32_t, unsigned> slowCells_;
  std::map<std::uint32_t, unsigned> pulsesTaken_;
  std::set<std::uint32_t> deadCells_, stuckCells_;
  std::vector<FlashViolation> violations_;
  unsigned pulses_ = 0;
  unsigned errorAtPulse_ = 0;
};

}  // namespace vantor::board
