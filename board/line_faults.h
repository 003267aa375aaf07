// Faults on the serial line between the host and the virtual board, to show
// what the writer makes of a damaged byte:
//
//   flip:N:B        bit B (0-7) of the N-th byte the host sends is inverted
//   drop:N          the N-th byte the host sends never arrives
//   reply-flip:N:B  bit B of the N-th byte the board sends is inverted
//
// Both directions count from 1 at the first byte after the boot ROM's
// erase-complete answer, so N = 1 is the first byte of the first command
// (host) or of its reply (board). The count starts afresh at every power-on
// in boot mode. Used by port "sim" and by vantor-board alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/h8s2215_chip.h"

namespace vantor::board {

struct LineFault {
  enum class Kind { kFlip, kDrop, kReplyFlip };
  Kind kind = Kind::kFlip;
  std::uint64_t byte = 0;  // N, from 1
  unsigned bit = 0;        // B, for the flips
};

// Reads one FAULT text. False with a one-line reason in `error`.
bool ParseLineFault(const std::string& text, LineFault& fault, std::string& error);

// The text of a fault, as ParseLineFault reads it.
std::string LineFaultText(const LineFault& fault);

class LineFaults {
 public:
  void Set(std::vector<LineFault> faults);
  const std::vector<LineFault>& Faults() const { return faults_; }

  // The board has been powered on in boot mode: nothing counts until its
  // erase answer has passed again.
  void PowerOn();

  // A byte from the host on its way to `chip`: false when it is dropped,
  // otherwise `byte` as it arrives.
  bool ToBoard(std::uint8_t& byte);
  // A byte `chip` sent, as the host receives it. Watches for the erase
  // answer (the boot ROM's last byte) to start the count.
  void ToHost(H8s2215Chip& chip, std::uint8_t& byte);

  // Whether the count has started, and the bytes counted each way.
  bool Counting() const { return counting_; }
  std::uint64_t HostBytes() const { return hostBytes_; }
  std::uint64_t BoardBytes() const { return boardBytes_; }

 private:
  std::vector<LineFault> faults_;
  bool counting_ = false;
  std::uint64_t bootBytes_ = 0;  // bytes to the host before the count started
  std::uint64_t hostBytes_ = 0;
  std::uint64_t boardBytes_ = 0;
};

}  // namespace vantor::board
