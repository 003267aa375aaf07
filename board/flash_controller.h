// The on-chip flash memory and its controller: FLMCR1, FLMCR2, EBR1, EBR2,
// the 128-byte program latches, program (PSU, P), program verify (PV with
// its dummy write) and erase (ESU, E, EV).
//
// The controller checks the procedure as the CPU drives it and records every
// breach as a violation with its time and address: a pulse outside the
// window of its try (30 us in tries 1-6, 200 us from try 7, the 10 us
// additional pulse only in tries 1-6), more than 1000 tries, a pulse without
// the watchdog running long enough to cover it, latches loaded other than by
// byte writes or not whole before the pulse, a verify read without its own
// H'FF dummy write or not a word read, a unit programmed a second time
// without an erase, programming without SWE, flash access while a pulse
// runs, a wait shorter than its minimum, a watchdog overflow while SWE is
// set. The windows are in h8s2215_device.h and docs/firmware.md.
// Programming only turns 1 bits into 0. Fault injection makes chosen cells
// need several pulses, never program, never erase, or lose their charge once
// after they verified.
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
  kWithoutSwe,             // latch write, PSU, P or E with SWE clear
  kVerifyWithoutDummy,     // verify read not preceded by an H'FF dummy write there
  kUnalignedUnit,          // latch writes not starting at a multiple of 128 / leaving the unit
  kAccessDuringPulse,      // flash read or written while P or E is set
  kWatchdogOverflow,       // the watchdog overflowed while SWE was set
  kWaitTooShort,           // a minimum wait between two steps not kept
  kOutOfOrder,             // a step without the one before it (P without PSU, ...)
  kTooManyTries,           // more than the maximum number of tries for one unit
  kWatchdogNotGuarding,    // a pulse without the watchdog running long enough to cover it
  kLatchNotByte,           // latches loaded by word or longword writes
  kUnitNotLoaded,          // a pulse before all 128 latches of the unit were loaded
  kVerifyNotWord,          // a verify read that is not a word read
  kReprogramWithoutErase,  // a unit programmed again before it was erased
};

const char* FlashRuleName(FlashRule rule);

struct FlashViolation {
  States at;
  std::uint32_t address;
  FlashRule rule;
  std::string detail;
  unsigned repeats = 0;  // the same breach again straight after, not listed again
};

class Watchdog;

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
  // The cell takes on its pulse and reads programmed at the next verify,
  // then loses its charge once: it reads unprogrammed at the verify after
  // (whatever additional pulse came between) and takes again on a later
  // pulse. So that there is a verify after, one
  // 0 bit of the same pulse takes only on the pulse after (a bit of the cell
  // itself when it programs two or more, else the first other byte of the
  // unit that programs a bit).
  void LosesChargeOnce(std::uint32_t address) { unstable_[address] = Unstable{}; }

  // The watchdog whose running the controller checks during each pulse.
  void AttachWatchdog(const Watchdog* watchdog) { watchdog_ = watchdog; }

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
  // The violations as lines of text ("none" when there are none), from the
  // `from`th on.
  std::string Report(std::size_t from = 0) const;
  unsigned PulseCount() const { return pulses_; }

 private:
  void Violate(States now, std::uint32_t address, FlashRule rule, std::string detail);
  void CheckWait(States now, States since, std::uint32_t minNs, const char* what);
  void EndProgramPulse(States now);
  void EndErasePulse(States now);
  void StartPulse(States now);
  void StartUnitLoad(States now, std::uint32_t unit);
  void EndSequence();
  void MarkErased(std::uint32_t from, std::uint32_t to);
  void ProgramLatches();
  void CheckWatchdogCovers(States now, double ns, const char* when);
  std::uint32_t VerifyRead(std::uint32_t address, unsigned size, States now);
  double Ns(States from, States to) const;

  std::uint32_t clockHz_;
  std::vector<std::uint8_t> cells_;
  bool fwePin_ = true;
  std::uint8_t flmcr1_ = 0, flmcr2_ = 0, ebr1_ = 0, ebr2_ = 0;

  // Step times; kNever when the step has not happened since power-on.
  States sweSetAt_ = kNever, sweClearAt_ = kNever, psuSetAt_ = kNever, psuClearAt_ = kNever;
  States pSetAt_ = kNever, pClearAt_ = kNever, pvSetAt_ = kNever, pvClearAt_ = kNever;
  States esuSetAt_ = kNever, eSetAt_ = kNever;

  // The program latches: the unit being loaded, its bytes and which of them
  // were written since the last pulse.
  bool unitOpen_ = false;
  std::uint32_t unitBase_ = 0;
  std::uint8_t latch_[128];
  bool loaded_[128];
  unsigned loadedCount_ = 0;
  bool wideLoadSeen_ = false;

  // The programming of one unit: from the first latch load until SWE is
  // cleared or another unit is loaded. Tries count the try pulses (not the
  // additional ones).
  bool sequenceOpen_ = false;
  std::uint32_t sequenceUnit_ = 0;
  unsigned tries_ = 0;
  bool additionalInTry_ = false;
  bool verifiedSincePulse_ = false;  // since the try's pulse
  // Units programmed since their last erase.
  std::vector<bool> programmed_;

  // Verify: the word the last dummy write armed, and when.
  bool dummyArmed_ = false;
  std::uint32_t dummyWord_ = 0;
  States dummyAt_ = 0;

  const Watchdog* watchdog_ = nullptr;

  struct Unstable {
    enum Phase { kWaiting, kProgrammed, kVerified, kLost } phase = kWaiting;
    std::uint8_t lostBits = 0;  // the bits that took and will read unprogrammed
  };
  std::map<std::uint32_t, Unstable> unstable_;

  std::map<std::uint32_t, unsigned> slowCells_;
  std::map<std::uint32_t, unsigned> pulsesTaken_;
  std::set<std::uint32_t> deadCells_, stuckCells_;
  std::vector<FlashViolation> violations_;
  unsigned pulses_ = 0;
  unsigned errorAtPulse_ = 0;
};

}  // namespace vantor::board
