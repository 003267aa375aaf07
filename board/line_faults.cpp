#include "board/line_faults.h"

#include <cstdlib>

namespace vantor::board {
namespace {

// A whole decimal number from 1 (byte counts) or 0 (bits) up to `max`.
bool ParseCount(const std::string& text, std::uint64_t min, std::uint64_t max,
                std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= min && value <= max;
}

// Bytes the boot ROM sends up to and including its erase answer: the
// bit-rate answer, 0xAA for 0x55, the two length echoes, one echo per
// program byte, the erase answer.
std::uint64_t BootAnswerBytes(H8s2215Chip& chip) {
  return 5u + chip.Boot().ProgramLength();
}

}  // namespace

bool ParseLineFault(const std::string& text, LineFault& fault, std::string& error) {
  const std::size_t first = text.find(':');
  const std::string kind = text.substr(0, first);
  std::string rest = first == std::string::npos ? std::string() : text.substr(first + 1);
  const bool flips = kind == "flip" || kind == "reply-flip";
  if (!flips && kind != "drop") {
    error = "line fault '" + text + "': the kinds are flip:N:B, drop:N and reply-flip:N:B";
    return false;
  }
  std::string bitText;
  if (flips) {
    const std::size_t second = rest.find(':');
    if (second == std::string::npos) {
      error = "line fault '" + text + "': " + kind + " takes N:B";
      return false;
    }
    bitText = rest.substr(second + 1);
    rest = rest.substr(0, second);
  }
  std::uint64_t n = 0;
  std::uint64_t bit = 0;
  if (!ParseCount(rest, 1, UINT64_MAX / 10, n)) {
    error = "line fault '" + text + "': N counts bytes from 1";
    return false;
  }
  if (flips && !ParseCount(bitText, 0, 7, bit)) {
    error = "line fault '" + text + "': B is a bit number, 0 to 7";
    return false;
  }
  fault.kind = kind == "flip"   ? LineFault::Kind::kFlip
               : kind == "drop" ? LineFault::Kind::kDrop
                                : LineFault::Kind::kReplyFlip;
  fault.byte = n;
  fault.bit = static_cast<unsigned>(bit);
  return true;
}

std::string LineFaultText(const LineFault& fault) {
  switch (fault.kind) {
    case LineFault::Kind::kDrop:
      return "drop:" + std::to_string(fault.byte);
    case LineFault::Kind::kFlip:
      return "flip:" + std::to_string(fault.byte) + ":" + std::to_string(fault.bit);
    case LineFault::Kind::kReplyFlip:
      break;
  }
  return "reply-flip:" + std::to_string(fault.byte) + ":" + std::to_string(fault.bit);
}

void LineFaults::Set(std::vector<LineFault> faults) {
  faults_ = std::move(faults);
  PowerOn();
}

void LineFaults::PowerOn() {
  counting_ = false;
  bootBytes_ = hostBytes_ = boardBytes_ = 0;
}

bool LineFaults::ToBoard(std::uint8_t& byte) {
  if (!counting_) return true;
  ++hostBytes_;
  bool arrives = true;
  for (const LineFault& fault : faults_) {
    if (fault.byte != hostBytes_) continue;
    if (fault.kind == LineFault::Kind::kDrop) arrives = false;
    if (fault.kind == LineFault::Kind::kFlip)
      byte = static_cast<std::uint8_t>(byte ^ (1u << fault.bit));
  }
  return arrives;
}

void LineFaults::ToHost(H8s2215Chip& chip, std::uint8_t& byte) {
  if (!counting_) {
    // The boot ROM's answers: the count starts after the last of them, once
    // the program is in and the flash reported erased.
    ++bootBytes_;
    counting_ =
        chip.Boot().CurrentPhase() == BootRom::Phase::kDone && bootBytes_ == BootAnswerBytes(chip);
    return;
  }
  ++boardBytes_;
  for (const LineFault& fault : faults_) {
    if (fault.kind == LineFault::Kind::kReplyFlip && fault.byte == boardBytes_) {
      byte = static_cast<std::uint8_t>(byte ^ (1u << fault.bit));
    }
  }
}

}  // namespace vantor::board
