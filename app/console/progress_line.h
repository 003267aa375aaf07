// The one-line progress report the console rewrites while blocks are written.
#pragma once

#include <string>

namespace vantor {

struct ProgressFigures {
  unsigned blocksDone = 0;
  unsigned blocksTotal = 0;
  unsigned bytesPerBlock = 128;
  double elapsedSeconds = 0.0;
};

// For example
//   [##########----------] 1024/2048 blocks 128.0/256.0 KiB 880 B/s 2:29 elapsed 2:29 left
// The rate and the time left read "--" until a block has been written.
std::string FormatProgressLine(const ProgressFigures& figures);

// Minutes and seconds ("2:05"), hours when needed ("1:02:05").
std::string FormatDuration(double seconds);

}  // namespace vantor
