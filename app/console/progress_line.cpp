#include "app/console/progress_line.h"

#include <cmath>
#include <cstdio>

namespace vantor {
namespace {

constexpr unsigned kWidestBar = 20;
constexpr unsigned kNarrowestBar = 5;
// Room kept for the figures when the bar is sized, so that the bar keeps its
// width from one redraw to the next while the figures change length.
constexpr std::size_t kFiguresRoom = 70;

// Everything but the bar: counts, amounts, rate, times and the address.
std::string Figures(const ProgressFigures& figures, unsigned done, unsigned total) {
  const double bytesDone = static_cast<double>(done) * figures.bytesPerBlock;
  const double bytesTotal = static_cast<double>(total) * figures.bytesPerBlock;
  // Tenths of a KiB for small images, whole KiB for large ones.
  const int decimals = bytesTotal < 100.0 * 1024.0 ? 1 : 0;
  char text[160];
  std::snprintf(text, sizeof text, "%u/%u blocks %.*f/%.*f KiB ", done, total, decimals,
                bytesDone / 1024.0, decimals, bytesTotal / 1024.0);
  std::string line = text;

  // The line's rate goes with the throughput, ahead of what a narrow
  // terminal cuts.
  char lineRate[32] = "";
  if (figures.lineRate != 0) {
    std::snprintf(lineRate, sizeof lineRate, "(%u bit/s) ",
                  static_cast<unsigned>(figures.lineRate));
  }
  if (done == 0 || figures.elapsedSeconds <= 0.0) {
    line += "-- B/s ";
    line += lineRate;
    line += FormatDuration(figures.elapsedSeconds);
    line += " elapsed -- left";
  } else {
    const double rate = bytesDone / figures.elapsedSeconds;
    const double left = (bytesTotal - bytesDone) / rate;
    std::snprintf(text, sizeof text, "%.0f B/s ", rate);
    line += text;
    line += lineRate;
    line += FormatDuration(figures.elapsedSeconds);
    line += " elapsed ";
    line += FormatDuration(left);
    line += " left";
  }
  if (figures.hasAddress) {
    std::snprintf(text, sizeof text, " h'%08X", static_cast<unsigned>(figures.address));
    line += text;
  }
  return line;
}

}  // namespace

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

std::string FormatProgressLine(const ProgressFigures& figures, unsigned width) {
  const unsigned total = figures.blocksTotal;
  const unsigned done = figures.blocksDone > total ? total : figures.blocksDone;
  const std::string text = Figures(figures, done, total);

  // The bar takes what the figures leave of the line, up to its full width;
  // on a narrow terminal it goes, and then the end of the figures.
  const unsigned usable = width > 1 ? width - 1 : 0;
  unsigned bar = kWidestBar;
  if (usable != 0) {
    const std::size_t kept = text.size() > kFiguresRoom ? text.size() : kFiguresRoom;
    const std::size_t room = usable > kept + 3 ? usable - kept - 3 : 0;
    bar = room < kWidestBar ? static_cast<unsigned>(room) : kWidestBar;
  }
  std::string line;
  if (bar >= kNarrowestBar) {
    const unsigned filled = total == 0 ? bar : done * bar / total;
    line += '[';
    line.append(filled, '#');
    line.append(bar - filled, '-');
    line += "] ";
  }
  line += text;
  if (usable != 0 && line.size() > usable) line.resize(usable);
  return line;
}

}  // namespace vantor
