// The one-line progress report the console rewrites while blocks are written.
#pragma once

#include <cstdint>
#include <string>

namespace vantor {

struct ProgressFigures {
  unsigned blocksDone = 0;
  unsigned blocksTotal = 0;
  unsigned bytesPerBlock = 128;
  double elapsedSeconds = 0.0;
  bool hasAddress = false;  // show the block being written
  std::uint32_t address = 0;
  std::uint32_t lineRate = 0;  // bit/s of the line; 0: not shown
};

// For example
//   [##########----------] 1024/2048 blocks 128.0/256.0 KiB 880 B/s 2:29 elapsed 2:29 left
//   h'00020000
// and, when lineRate is set, "(9600 bit/s)" after the B/s figure.
// The rate and the time left read "--" until a block has been written. The
// line is plain ASCII, cut to `width` - 1 columns so that it never wraps
// (the least important figures are at the end).
std::string FormatProgressLine(const ProgressFigures& figures, unsigned width = 0);

// Minutes and seconds ("2:05"), hours when needed ("1:02:05").
std::string FormatDuration(double seconds);

}  // namespace vantor
