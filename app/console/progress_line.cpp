#include "app/console/progress_line.h"

#include <cmath>
#include <cstdio>

namespace vantor {

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0.0)) seconds = 0.0;
  const auto whole = static_cast<unsigned long>(std::lround(seconds));
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lu:%02lu", whole / 60, whole % 60);
  }
  return text;
}

std::string FormatProgressLine(const ProgressFigures& figures) {
  constexpr unsigned kBarWidth = 20;
  const unsigned total = figures.blocksTotal;
  const unsigned done = figures.blocksDone > total ? total : figures.blocksDone;
  const unsigned filled = total == 0 ? kBarWidth : done * kBarWidth / total;

  std::string line = "[";
  line.append(filled, '#');
  line.append(kBarWidth - filled, '-');
  line += "] ";

  const double bytesDone = static_cast<double>(done) * figures.bytesPerBlock;
  const double bytesTotal = static_cast<double>(total) * figures.bytesPerBlock;
  char text[160];
  std::snprintf(text, sizeof text, "%u/%u blocks %.1f/%.1f KiB ", done, total, bytesDone / 1024.0,
                bytesTotal / 1024.0);
  line += text;

  if (done == 0 || figures.elapsedSeconds <= 0.0) {
    line += "-- B/s " + FormatDuration(figures.elapsedSeconds) + " elapsed -- left";
    return line;
  }
  const double rate = bytesDone / figures.elapsedSeconds;
  const double left = (bytesTotal - bytesDone) / rate;
  std::snprintf(text, sizeof text, "%.0f B/s ", rate);
  line += text;
  line += FormatDuration(figures.elapsedSeconds) + " elapsed " + FormatDuration(left) + " left";
  return line;
}

}  // namespace vantor
