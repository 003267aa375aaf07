#include "board/flash_controller.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "board/h8s2215_device.h"
#include "board/watchdog.h"

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
    case FlashRule::kTooManyTries:
      return "too many tries";
    case FlashRule::kWatchdogNotGuarding:
      return "pulse not guarded by the watchdog";
    case FlashRule::kLatchNotByte:
      return "latches not loaded by byte writes";
    case FlashRule::kUnitNotLoaded:
      return "pulse before the unit was loaded whole";
    case FlashRule::kVerifyNotWord:
      return "verify read not a word read";
    case FlashRule::kReprogramWithoutErase:
      return "unit programmed again without an erase";
  }
  return "?";
}

FlashController::FlashController(std::uint32_t clockHz)
    : clockHz_(clockHz),
      cells_(d::kFlashSize, 0xFF),
      programmed_(d::kFlashSize / d::kProgramUnit, false) {
  PowerOn();
}

void FlashController::PowerOn() {
  flmcr1_ = flmcr2_ = ebr1_ = ebr2_ = 0;
  sweSetAt_ = sweClearAt_ = psuSetAt_ = psuClearAt_ = kNever;
  pSetAt_ = pClearAt_ = pvSetAt_ = pvClearAt_ = esuSetAt_ = eSetAt_ = kNever;
  unitOpen_ = false;
  loadedCount_ = 0;
  wideLoadSeen_ = false;
  sequenceOpen_ = false;
  tries_ = 0;
  dummyArmed_ = false;
  std::fill(std::begin(latch_), std::end(latch_), 0xFF);
  std::fill(std::begin(loaded_), std::end(loaded_), false);
}

bool FlashController::IsBlank() const {
  return std::all_of(cells_.begin(), cells_.end(), [](std::uint8_t b) { return b == 0xFF; });
}

double FlashController::Ns(States from, States to) const {
  return StatesToNs(to - from, clockHz_);
}

void FlashController::Violate(States now, std::uint32_t address, FlashRule rule,
                              std::string detail) {
  // One breach repeated byte after byte (a whole unit verified by byte
  // reads) is one line with its count.
  const std::size_t recent = std::min<std::size_t>(violations_.size(), 4);
  for (std::size_t n = violations_.size() - recent; n < violations_.size(); ++n) {
    FlashViolation& seen = violations_[n];
    if (seen.rule == rule && seen.detail == detail &&
        seen.address / d::kProgramUnit == address / d::kProgramUnit) {
      ++seen.repeats;
      return;
    }
  }
  violations_.push_back({now, address, rule, std::move(detail)});
}

void FlashController::CheckWait(States now, States since, std::uint32_t minNs, const char* what) {
  if (since == kNever) return;
  const double waited = Ns(since, now);
  if (waited + 0.5 < minNs) {
    char text[160];
    std::snprintf(text, sizeof text, "%s: waited %.2f us, at least %.2f us needed", what,
                  waited / 1000.0, minNs / 1000.0);
    Violate(now, sequenceOpen_ ? sequenceUnit_ : 0, FlashRule::kWaitTooShort, text);
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
    if (watchdog_ != nullptr && !watchdog_->Running()) {
      Violate(now, unitBase_, FlashRule::kWatchdogNotGuarding,
              "PSU set with the watchdog stopped: start it before PSU");
    }
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
    StartPulse(now);
  }
  if (cleared & d::kFlmcr1P) {
    flmcr1_ = next;
    EndProgramPulse(now);
  }
  if (cleared & d::kFlmcr1Psu) {
    if (next & d::kFlmcr1P) Violate(now, 0, FlashRule::kOutOfOrder, "PSU cleared while P is set");
    CheckWait(now, pClearAt_, d::kWaitAfterPNs, "P cleared to PSU cleared");
    if (watchdog_ != nullptr && !watchdog_->Running()) {
      Violate(now, unitBase_, FlashRule::kWatchdogNotGuarding,
              "the watchdog was stopped before PSU was cleared");
    }
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
    loadedCount_ = 0;
    std::fill(std::begin(latch_), std::end(latch_), 0xFF);
    std::fill(std::begin(loaded_), std::end(loaded_), false);
    EndSequence();
  }
  flmcr1_ = next;
}

void FlashController::CheckWatchdogCovers(States now, double ns, const char* when) {
  if (watchdog_ == nullptr) return;
  if (!watchdog_->Running()) {
    Violate(now, unitBase_, FlashRule::kWatchdogNotGuarding,
            std::string("the watchdog is not running ") + when);
    return;
  }
  const States overflow = watchdog_->NextEvent();
  const double left = overflow > now ? Ns(now, overflow) : 0.0;
  if (left < ns) {
    Violate(now, unitBase_, FlashRule::kWatchdogNotGuarding,
            Format("the watchdog overflows %.2f us after P is set, before the pulse's %.0f us "
                   "maximum",
                   left / 1000.0, ns / 1000.0));
  }
}

void FlashController::StartPulse(States now) {
  if (!unitOpen_ || loadedCount_ < d::kProgramUnit) {
    char text[96];
    std::snprintf(text, sizeof text, "P set with %u of the 128 latches loaded", loadedCount_);
    Violate(now, unitBase_, FlashRule::kUnitNotLoaded, text);
  }
  // The longest pulse this one may be: that of the try it would be.
  const unsigned nextTry = tries_ + 1;
  CheckWatchdogCovers(now,
                      nextTry <= d::kShortPulseTries ? d::kShortPulseMaxNs : d::kLongPulseMaxNs,
                      "when P is set");
}

void FlashController::EndProgramPulse(States now) {
  const double ns = Ns(pSetAt_, now);
  pClearAt_ = now;
  ++pulses_;
  const bool tripped = pulses_ == errorAtPulse_;
  if (tripped) flmcr2_ |= d::kFlmcr2Fler;
  const std::uint32_t unit = unitBase_;
  // A pulse nearer the additional window than the short one is an
  // additional-programming pulse; any other is the pulse of the next try.
  const bool additional = ns < (d::kAdditionalPulseMaxNs + d::kShortPulseMinNs) / 2.0;
  std::uint32_t minNs = d::kAdditionalPulseMinNs, maxNs = d::kAdditionalPulseMaxNs;
  char what[64];
  if (additional) {
    std::snprintf(what, sizeof what, "additional pulse of try %u", tries_);
    if (tries_ == 0) {
      Violate(now, unit, FlashRule::kOutOfOrder, "additional pulse before the unit's first try");
    } else if (tries_ > d::kShortPulseTries) {
      Violate(now, unit, FlashRule::kOutOfOrder,
              Format("additional pulse in try %.0f: only in tries 1-6", tries_));
    } else if (additionalInTry_) {
      Violate(now, unit, FlashRule::kOutOfOrder, "second additional pulse in one try");
    } else if (!verifiedSincePulse_) {
      Violate(now, unit, FlashRule::kOutOfOrder, "additional pulse without the try's verify");
    }
    additionalInTry_ = true;
  } else {
    ++tries_;
    std::snprintf(what, sizeof what, "pulse of try %u", tries_);
    if (tries_ > 1 && !verifiedSincePulse_) {
      Violate(now, unit, FlashRule::kOutOfOrder,
              Format("try %.0f pulsed without the verify of the try before", tries_));
    }
    if (tries_ == d::kMaxProgramTries + 1) {
      Violate(now, unit, FlashRule::kTooManyTries, "more than 1000 tries for one unit");
    }
    additionalInTry_ = false;
    if (tries_ <= d::kShortPulseTries) {
      minNs = d::kShortPulseMinNs;
      maxNs = d::kShortPulseMaxNs;
    } else {
      minNs = d::kLongPulseMinNs;
      maxNs = d::kLongPulseMaxNs;
    }
  }
  if (ns < minNs || ns > maxNs) {
    char text[160];
    std::snprintf(text, sizeof text, "%s lasted %.2f us, allowed %.0f-%.0f us", what, ns / 1000.0,
                  minNs / 1000.0, maxNs / 1000.0);
    Violate(now, unit, ns < minNs ? FlashRule::kPulseTooShort : FlashRule::kPulseTooLong, text);
  }
  if (watchdog_ != nullptr && !watchdog_->Running()) {
    Violate(now, unit, FlashRule::kWatchdogNotGuarding, "the watchdog stopped during the pulse");
  }
  if (!tripped) ProgramLatches();
  if (!additional) verifiedSincePulse_ = false;
  // The latches hold one pulse's data; the next pulse is loaded afresh.
  unitOpen_ = false;
  loadedCount_ = 0;
  wideLoadSeen_ = false;
  std::fill(std::begin(latch_), std::end(latch_), 0xFF);
  std::fill(std::begin(loaded_), std::end(loaded_), false);
}

void FlashController::ProgramLatches() {
  if (!unitOpen_) return;
  std::uint8_t zeros[128];
  for (unsigned i = 0; i < d::kProgramUnit; ++i) {
    const std::uint32_t address = unitBase_ + i;
    zeros[i] = static_cast<std::uint8_t>(~latch_[i] & cells_[address]);
    if (deadCells_.count(address)) zeros[i] = 0;
  }
  // An unstable cell about to take: hold back one other 0 bit of this pulse
  // to the next, so that the unit is verified again after the cell's loss.
  std::uint32_t heldAddress = 0;
  std::uint8_t heldBit = 0;
  for (auto& [address, cell] : unstable_) {
    if (address / d::kProgramUnit != unitBase_ / d::kProgramUnit) continue;
    const unsigned i = address - unitBase_;
    if (cell.phase != Unstable::kWaiting || zeros[i] == 0) continue;
    if (std::popcount(zeros[i]) >= 2) {
      heldAddress = address;
      heldBit = static_cast<std::uint8_t>(zeros[i] & -zeros[i]);
    } else {
      for (unsigned k = 0; k < d::kProgramUnit && heldBit == 0; ++k) {
        if (k != i && zeros[k] != 0) {
          heldAddress = unitBase_ + k;
          heldBit = static_cast<std::uint8_t>(zeros[k] & -zeros[k]);
        }
      }
    }
    if (heldBit == 0) continue;  // nothing else to program: it stays stable
    cell.phase = Unstable::kProgrammed;
    cell.lostBits = static_cast<std::uint8_t>(zeros[i] & ~(heldAddress == address ? heldBit : 0));
    break;
  }
  for (unsigned i = 0; i < d::kProgramUnit; ++i) {
    const std::uint32_t address = unitBase_ + i;
    std::uint8_t take = zeros[i];
    if (take == 0) continue;
    auto slow = slowCells_.find(address);
    if (slow != slowCells_.end() && ++pulsesTaken_[address] < slow->second) continue;
    if (heldBit != 0 && address == heldAddress) take &= static_cast<std::uint8_t>(~heldBit);
    cells_[address] &= static_cast<std::uint8_t>(~take);  // only 1 bits turn into 0
  }
}

void FlashController::StartUnitLoad(States now, std::uint32_t unit) {
  if (sequenceOpen_ && unit != sequenceUnit_) EndSequence();
  if (!sequenceOpen_) {
    sequenceOpen_ = true;
    sequenceUnit_ = unit;
    tries_ = 0;
    additionalInTry_ = false;
    verifiedSincePulse_ = false;
    const std::uint32_t index = unit / d::kProgramUnit;
    if (index < programmed_.size() && programmed_[index]) {
      Violate(now, unit, FlashRule::kReprogramWithoutErase,
              "latches loaded for a unit already programmed since its last erase");
    }
  }
}

void FlashController::EndSequence() {
  if (!sequenceOpen_) return;
  sequenceOpen_ = false;
  const std::uint32_t index = sequenceUnit_ / d::kProgramUnit;
  if (tries_ > 0 && index < programmed_.size()) programmed_[index] = true;
  tries_ = 0;
}

void FlashController::MarkErased(std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t u = from / d::kProgramUnit; u < to / d::kProgramUnit; ++u) {
    if (u < programmed_.size()) programmed_[u] = false;
  }
}

void FlashController::EndErasePulse(States now) {
  const double ns = Ns(eSetAt_, now);
  if (ns < d::kErasePulseMinNs) {
    Violate(now, 0, FlashRule::kPulseTooShort, Format("erase pulse of %.2f us", ns / 1000.0));
  } else if (ns > d::kErasePulseMaxNs) {
    Violate(now, 0, FlashRule::kPulseTooLong, Format("erase pulse of %.2f us", ns / 1000.0));
  }
  const unsigned selected = ebr1_ | (static_cast<unsigned>(ebr2_) << 8);
  for (unsigned block = 0; block < d::kEraseBlockCount; ++block) {
    if (!(selected & (1u << block))) continue;
    for (std::uint32_t a = d::kEraseBlockStart[block]; a < d::kEraseBlockStart[block + 1]; ++a) {
      if (!stuckCells_.count(a)) cells_[a] = 0xFF;
    }
    MarkErased(d::kEraseBlockStart[block], d::kEraseBlockStart[block + 1]);
  }
}

std::uint32_t FlashController::VerifyRead(std::uint32_t address, unsigned size, States now) {
  if (size != 2) {
    char text[80];
    std::snprintf(text, sizeof text, "a %u-byte verify read: verify reads are words", size);
    Violate(now, address, FlashRule::kVerifyNotWord, text);
  }
  const std::uint32_t word = address & ~1u;
  if (!dummyArmed_ || word != dummyWord_) {
    Violate(now, address, FlashRule::kVerifyWithoutDummy,
            "verify read without its own H'FF dummy write to that address");
  } else {
    CheckWait(now, dummyAt_, d::kWaitAfterDummyNs, "dummy write to verify read");
  }
  dummyArmed_ = false;  // each read uses up its dummy write
  if (flmcr1_ & d::kFlmcr1Pv) verifiedSincePulse_ = true;
  std::uint32_t value = 0;
  for (unsigned i = 0; i < size; ++i) {
    value = (value << 8) | cells_[(address + i) % d::kFlashSize];
  }
  // An unstable cell: read programmed at the first verify after it took, it
  // has lost its charge by the next (whatever pulses came between), once.
  if (flmcr1_ & d::kFlmcr1Pv) {
    for (unsigned i = 0; i < size; ++i) {
      auto cell = unstable_.find((address + i) % d::kFlashSize);
      if (cell == unstable_.end()) continue;
      Unstable& u = cell->second;
      if (u.phase == Unstable::kProgrammed) {
        u.phase = Unstable::kVerified;
      } else if (u.phase == Unstable::kVerified) {
        cells_[cell->first] |= u.lostBits;
        value |= static_cast<std::uint32_t>(u.lostBits) << (8 * (size - 1 - i));
        u.phase = Unstable::kLost;
      }
    }
  }
  return value;
}

std::uint32_t FlashController::ReadArray(std::uint32_t address, unsigned size, States now) {
  if (PulseRunning()) {
    Violate(now, address, FlashRule::kAccessDuringPulse, "flash read while P or E is set");
    flmcr2_ |= d::kFlmcr2Fler;
  } else if (flmcr1_ & (d::kFlmcr1Pv | d::kFlmcr1Ev)) {
    return VerifyRead(address, size, now);
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
    dummyWord_ = (address + size - 1) & ~1u;
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
  if (size != 1 && !wideLoadSeen_) {
    wideLoadSeen_ = true;
    char text[80];
    std::snprintf(text, sizeof text, "latch loaded by a %u-byte write: load them by bytes", size);
    Violate(now, address, FlashRule::kLatchNotByte, text);
  }
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
      StartUnitLoad(now, unitBase_);
    }
    if ((a & ~(d::kProgramUnit - 1)) != unitBase_) {
      Violate(now, a, FlashRule::kUnalignedUnit, "latch write outside the unit being loaded");
      continue;
    }
    latch_[a - unitBase_] = byte;
    if (!loaded_[a - unitBase_]) {
      loaded_[a - unitBase_] = true;
      ++loadedCount_;
    }
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
  MarkErased(0, d::kFlashSize);
  for (auto& [address, cell] : unstable_) cell = Unstable{};
  return IsBlank();
}

std::string FlashController::Report(std::size_t from) const {
  if (violations_.size() <= from) return "none";
  std::string out;
  for (std::size_t n = from; n < violations_.size(); ++n) {
    const FlashViolation& v = violations_[n];
    char line[360];
    std::snprintf(line, sizeof line, "%.2f us H'%06X %s: %s", StatesToNs(v.at, clockHz_) / 1000.0,
                  static_cast<unsigned>(v.address), FlashRuleName(v.rule), v.detail.c_str());
    out += line;
    if (v.repeats > 0) out += " (and " + std::to_string(v.repeats) + " more like it)";
    out += '\n';
  }
  return out;
}

}  // namespace vantor::board
