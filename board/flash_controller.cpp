#include "board/flash_controller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "board/h8s2215_device.h"

namespace vantor::board {
namespace {

namespace d = device;

std::string Format(const char* format, double a, double b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

const char* FlashRuleName(FlashRule rule) {
  switch (rule) {
    case FlashRule::kPulseTooShort:
      return "pulse too short";
    case FlashRule::kPulseTooLong:
      return "pulse too long";
    case FlashRule::kWithoutSwe:
      return "programming without SWE";
    case FlashRule::kVerifyWithoutDummy:
      return "verify read without dummy write";
    case FlashRule::kUnalignedUnit:
      return "write to a unit not aligned to 128";
    case FlashRule::kAccessDuringPulse:
      return "flash access while a pulse runs";
    case FlashRule::kWatchdogOverflow:
      return "watchdog overflow during programming";
    case FlashRule::kWaitTooShort:
      return "wait too short";
    case FlashRule::kOutOfOrder:
      return "step out of order";
  }
  return "?";
}

FlashController::FlashController(std::uint32_t clockHz)
    : clockHz_(clockHz), cells_(d::kFlashSize, 0xFF) {
  PowerOn();
}

void FlashController::PowerOn() {
  flmcr1_ = flmcr2_ = ebr1_ = ebr2_ = 0;
  sweSetAt_ = sweClearAt_ = psuSetAt_ = psuClearAt_ = kNever;
  pSetAt_ = pClearAt_ = pvSetAt_ = pvClearAt_ = esuSetAt_ = eSetAt_ = kNever;
  unitOpen_ = false;
  dummyArmed_ = false;
  std::fill(std::begin(latch_), std::end(latch_), 0xFF);
}

bool FlashController::IsBlank() const {
  return std::all_of(cells_.begin(), cells_.end(), [](std::uint8_t b) { return b == 0xFF; });
}

double FlashController::Ns(States from, States to) const {
  return StatesToNs(to - from, clockHz_);
}

void FlashController::Violate(States now, std::uint32_t address, FlashRule rule,
                              std::string detail) {
  violations_.push_back({now, address, rule, std::move(detail)});
}

void FlashController::CheckWait(States now, States since, std::uint32_t minNs, const char* what) {
  if (since == kNever) return;
  const double waited = Ns(since, now);
  if (waited + 0.5 < minNs) {
    char text[160];
    std::snprintf(text, sizeof text, "%s: waited %.2f us, at least %.2f us needed", what,
                  waited / 1000.0, minNs / 1000.0);
    Violate(now, 0, FlashRule::kWaitTooShort, text);
  }
}

std::uint8_t FlashController::ReadRegister(std::uint32_t address, States) {
  switch (address) {
    case d::kFlmcr1:
      return static_cast<std::uint8_t>(flmcr1_ | (fwePin_ ? d::kFlmcr1Fwe : 0));
    case d::kFlmcr2:
      return flmcr2_;
    case d::kEbr1:
      return ebr1_;
    case d::kEbr2:
      return ebr2_;
    default:
      return 0xFF;
  }
}

void FlashController::WriteRegister(std::uint32_t address, std::uint8_t value, States now) {
  if (address == d::kEbr1) {
    ebr1_ = value;
    return;
  }
  if (address == d::kEbr2) {
    ebr2_ = value & 0x0F;
    return;
  }
  if (address != d::kFlmcr1) return;  // FLMCR2 is read-only

  const std::uint8_t next = value & 0x7F;
  const std::uint8_t set = static_cast<std::uint8_t>(next & ~flmcr1_);
  const std::uint8_t cleared = static_cast<std::uint8_t>(flmcr1_ & ~next);
  const bool swe = (next & d::kFlmcr1Swe) != 0;

  if ((set & d::kFlmcr1Swe) && !fwePin_) {
    Violate(now, 0, FlashRule::kWithoutSwe, "SWE set while the FWE pin is low: ignored");
    flmcr1_ = static_cast<std::uint8_t>(next & ~d::kFlmcr1Swe & ~0x3F);
    return;
  }
  if (set & d::kFlmcr1Swe) sweSetAt_ = now;

  if (set & (d::kFlmcr1Psu | d::kFlmcr1P | d::kFlmcr1Esu | d::kFlmcr1E)) {
    if (!swe) Violate(now, 0, FlashRule::kWithoutSwe, "PSU, P, ESU or E set without SWE");
  }
  if (set & d::kFlmcr1Psu) {
    CheckWait(now, sweSetAt_, d::kWaitAfterSweNs, "SWE set to PSU set");
    CheckWait(now, pvClearAt_, d::kWaitAfterPvClearNs, "PV cleared to PSU set");
    psuSetAt_ = now;
  }
  if (set & d::kFlmcr1P) {
    if (!(next & d::kFlmcr1Psu)) Violate(now, 0, FlashRule::kOutOfOrder, "P set without PSU");
    if (next & (d::kFlmcr1Pv | d::kFlmcr1E)) {
      Violate(now, 0, FlashRule::kOutOfOrder, "P set together with PV or E");
    }
    CheckWait(now, psuSetAt_, d::kWaitAfterPsuNs, "PSU set to P set");
    pSetAt_ = now;
  }
  if (cleared & d::kFlmcr1P) {
    flmcr1_ = next;
    EndProgramPulse(now);
  }
  if (cleared & d::kFlmcr1Psu) {
    if (next & d::kFlmcr1P) Violate(now, 0, FlashRule::kOutOfOrder, "PSU cleared while P is set");
    CheckWait(now, pClearAt_, d::kWaitAfterPNs, "P cleared to PSU cleared");
    psuClearAt_ = now;
  }
  if (set & d::kFlmcr1Pv) {
    if (!swe) Violate(now, 0, FlashRule::kWithoutSwe, "PV set without SWE");
    if (next & (d::kFlmcr1Psu | d::kFlmcr1P)) {
      Violate(now, 0, FlashRule::kOutOfOrder, "PV set while PSU or P is set");
    }
    CheckWait(now, psuClearAt_, d::kWaitAfterPsuClearNs, "PSU cleared to PV set");
    pvSetAt_ = now;
    dummyArmed_ = false;
  }
  if (cleared & d::kFlmcr1Pv) {
    pvClearAt_ = now;
    dummyArmed_ = false;
  }
  if (set & d::kFlmcr1Esu) esuSetAt_ = now;
  if (set & d::kFlmcr1E) {
    if (!(next & d::kFlmcr1Esu)) Violate(now, 0, FlashRule::kOutOfOrder, "E set without ESU");
    CheckWait(now, esuSetAt_, d::kWaitAfterEsuNs, "ESU set to E set");
    eSetAt_ = now;
  }
  if (cleared & d::kFlmcr1E) {
    flmcr1_ = next;
    EndErasePulse(now);
  }
  if (set & d::kFlmcr1Ev) dummyArmed_ = false;
  if (cleared & d::kFlmcr1Swe) {
    if (next & 0x3F) Violate(now, 0, FlashRule::kOutOfOrder, "SWE cleared with other bits set");
    CheckWait(now, pvClearAt_, d::kWaitAfterPvClearNs, "PV cleared to SWE cleared");
    sweClearAt_ = now;
    unitOpen_ = false;
    std::fill(std::begin(latch_), std::end(latch_), 0xFF);
  }
  flmcr1_ = next;
}

void FlashController::EndProgramPulse(States now) {
  const double ns = Ns(pSetAt_, now);
  pClearAt_ = now;
  ++pulses_;
  const bool tripped = pulses_ == errorAtPulse_;
  if (tripped) flmcr2_ |= d::kFlmcr2Fler;
  // The pulse must match one of the pulse lengths within the tolerance.
  const double tol = d::kPulseTolerancePercent / 100.0;
  bool fits = false;
  for (const std::uint32_t nominal : d::kPulseNs) {
    if (ns >= nominal * (1 - tol) && ns <= nominal * (1 + tol)) fits = true;
  }
  if (!fits) {
    // Name it by the nearest window: too short for it or too long for it.
    double nearest = d::kPulseNs[0];
    for (const std::uint32_t nominal : d::kPulseNs) {
      if (std::fabs(std::log(ns / nominal)) < std::fabs(std::log(ns / nearest))) nearest = nominal;
    }
    Violate(now, unitBase_, ns < nearest ? FlashRule::kPulseTooShort : FlashRule::kPulseTooLong,
            Format("program pulse of %.2f us (nearest window %.0f us +-10 %%)", ns / 1000.0,
                   nearest / 1000.0));
  }
  if (unitOpen_ && !tripped) {
    for (unsigned i = 0; i < d::kProgramUnit; ++i) {
      const std::uint32_t address = unitBase_ + i;
      const std::uint8_t zeros = static_cast<std::uint8_t>(~latch_[i] & cells_[address]);
      if (zeros == 0) continue;
      if (deadCells_.count(address)) continue;
      auto slow = slowCells_.find(address);
      if (slow != slowCells_.end() && ++pulsesTaken_[address] < slow->second) continue;
      cells_[address] &= latch_[i];  // programming only turns 1 bits into 0
    }
  }
  // The latches hold one pulse's data; the next pulse is loaded afresh.
  unitOpen_ = false;
  std::fill(std::begin(latch_), std::end(latch_), 0xFF);
}

void FlashController::EndErasePulse(States now) {
  const double ns = Ns(eSetAt_, now);
  const double tol = d::kPulseTolerancePercent / 100.0;
  if (ns < d::kErasePulseNs * (1 - tol)) {
    Violate(now, 0, FlashRule::kPulseTooShort, Format("erase pulse of %.2f us", ns / 1000.0));
  } else if (ns > d::kErasePulseNs * (1 + tol)) {
    Violate(now, 0, FlashRule::kPulseTooLong, Format("erase pulse of %.2f us", ns / 1000.0));
  }
  const unsigned selected = ebr1_ | (static_cast<unsigned>(ebr2_) << 8);
  for (unsigned block = 0; block < d::kEraseBlockCount; ++block) {
    if (!(selected & (1u << block))) continue;
    for (std::uint32_t a = d::kEraseBlockStart[block]; a < d::kEraseBlockStart[block + 1]; ++a) {
      if (!stuckCells_.count(a)) cells_[a] = 0xFF;
    }
  }
}

std::uint32_t FlashController::ReadArray(std::uint32_t address, unsigned size, States now) {
  if (PulseRunning()) {
    Violate(now, address, FlashRule::kAccessDuringPulse, "flash read while P or E is set");
    flmcr2_ |= d::kFlmcr2Fler;
  } else if (flmcr1_ & (d::kFlmcr1Pv | d::kFlmcr1Ev)) {
    const std::uint32_t group = address & ~3u;
    if (!dummyArmed_ || group != dummyGroup_) {
      Violate(now, address, FlashRule::kVerifyWithoutDummy,
              "verify read without an H'FF dummy write to that address");
    } else {
      CheckWait(now, dummyAt_, d::kWaitAfterDummyNs, "dummy write to verify read");
    }
  } else if (!SweSet()) {
    CheckWait(now, sweClearAt_, d::kWaitAfterSweClearNs, "SWE cleared to flash read");
  }
  std::uint32_t value = 0;
  for (unsigned i = 0; i < size; ++i) {
    value = (value << 8) | cells_[(address + i) % d::kFlashSize];
  }
  return value;
}

void FlashController::WriteArray(std::uint32_t address, std::uint32_t value, unsigned size,
                                 States now) {
  if (PulseRunning()) {
    Violate(now, address, FlashRule::kAccessDuringPulse, "flash written while P or E is set");
    flmcr2_ |= d::kFlmcr2Fler;
    return;
  }
  if (flmcr1_ & (d::kFlmcr1Pv | d::kFlmcr1Ev)) {
    const std::uint32_t ones = size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
    if (value != ones) {
      Violate(now, address, FlashRule::kVerifyWithoutDummy,
              "dummy write of a value other than H'FF");
    }
    CheckWait(now, (flmcr1_ & d::kFlmcr1Pv) ? pvSetAt_ : kNever, d::kWaitAfterPvNs,
              "PV set to dummy write");
    dummyArmed_ = true;
    dummyGroup_ = address & ~3u;
    dummyAt_ = now;
    return;
  }
  if (!SweSet()) {
    Violate(now, address, FlashRule::kWithoutSwe, "flash written without SWE");
    return;
  }
  if (flmcr1_ & (d::kFlmcr1Psu | d::kFlmcr1Esu)) {
    Violate(now, address, FlashRule::kOutOfOrder, "latch written after PSU or ESU was set");
    return;
  }
  CheckWait(now, sweSetAt_, d::kWaitAfterSweNs, "SWE set to latch write");
  for (unsigned i = 0; i < size; ++i) {
    const std::uint32_t a = address + i;
    const auto byte = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
    if (!unitOpen_) {
      if (a % d::kProgramUnit != 0) {
        Violate(now, a, FlashRule::kUnalignedUnit,
                "first latch write of a unit at an address not a multiple of 128");
      }
      unitOpen_ = true;
      unitBase_ = a & ~(d::kProgramUnit - 1);
    }
    if ((a & ~(d::kProgramUnit - 1)) != unitBase_) {
      Violate(now, a, FlashRule::kUnalignedUnit, "latch write outside the unit being loaded");
      continue;
    }
    latch_[a - unitBase_] = byte;
  }
}

void FlashController::WatchdogOverflow(States now) {
  if (SweSet()) {
    Violate(now, unitBase_, FlashRule::kWatchdogOverflow,
            "the watchdog overflowed while SWE was set");
    flmcr2_ |= d::kFlmcr2Fler;
  }
  flmcr1_ &= static_cast<std::uint8_t>(~(d::kFlmcr1P | d::kFlmcr1E));
}

bool FlashController::EraseAll() {
  for (std::uint32_t a = 0; a < cells_.size(); ++a) {
    if (!stuckCells_.count(a)) cells_[a] = 0xFF;
  }
  return IsBlank();
}

std::string FlashController::Report() const {
  if (violations_.empty()) return "none";
  std::string out;
  for (const FlashViolation& v : violations_) {
    char line[320];
    std::snprintf(line, sizeof line, "%.2f us H'%06X %s: %s\n", StatesToNs(v.at, clockHz_) / 1000.0,
                  static_cast<unsigned>(v.address), FlashRuleName(v.rule), v.detail.c_str());
    out += line;
  }
  return out;
}

}  // namespace vantor::board
