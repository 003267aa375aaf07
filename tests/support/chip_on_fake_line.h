// A ChipPlayer on the far end of the in-memory fake line, and the rig of the
// protocol tests that talk to a whole chip: an opened fake line with the chip
// on it.
#pragma once

#include "tests/support/chip_player.h"
#include "tests/support/fake_transport.h"

namespace vantor::testing {

// Every byte the host sends on `line` goes to `chip`; the chip's answers are
// queued on the line, a delay before them as reads that find nothing (one
// read time-out each). Replaces the line's script and the chip's output.
void ConnectChip(ChipPlayer& chip, FakeTransport& line);

struct ChipOnFakeLine {
  ChipOnFakeLine() : ChipOnFakeLine(ChipPlayer::Options{}) {}
  explicit ChipOnFakeLine(const ChipPlayer::Options& options) : chip(options) {
    ConnectChip(chip, line);
  }

  OpenedFakeLine line;
  ChipPlayer chip;
};

}  // namespace vantor::testing
