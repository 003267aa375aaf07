// The figures of the console's progress line.
#include "app/console/progress_line.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

TEST(ProgressLine, ShowsCountsRateAndTimesOnceBlocksHaveGone) {
  ProgressFigures half;
  half.blocksDone = 1024;
  half.blocksTotal = 2048;
  half.elapsedSeconds = 149.0;
  EXPECT_EQ(FormatProgressLine(half),
            "[##########----------] 1024/2048 blocks 128/256 KiB 880 B/s 2:29 elapsed 2:29 left");

  ProgressFigures start = half;
  start.blocksDone = 0;
  start.elapsedSeconds = 0.0;
  EXPECT_EQ(FormatProgressLine(start),
            "[--------------------] 0/2048 blocks 0/256 KiB -- B/s 0:00 elapsed -- left");

  ProgressFigures done = half;
  done.blocksDone = 2048;
  done.elapsedSeconds = 298.0;
  EXPECT_EQ(FormatProgressLine(done),
            "[####################] 2048/2048 blocks 256/256 KiB 880 B/s 4:58 elapsed 0:00 left");
}

TEST(ProgressLine, EdgesOfTheFigures) {
  ProgressFigures half;
  half.blocksDone = 1024;
  half.blocksTotal = 2048;
  half.elapsedSeconds = 149.0;
  ProgressFigures one;
  one.blocksDone = 1;
  one.blocksTotal = 3;
  one.elapsedSeconds = 0.5;
  EXPECT_EQ(FormatProgressLine(one),
            "[######--------------] 1/3 blocks 0.1/0.4 KiB 256 B/s 0:01 elapsed 0:01 left");

  ProgressFigures nothing;  // an image without a block to send
  EXPECT_EQ(FormatProgressLine(nothing).substr(0, 22), "[####################]");

  // On an 80-column terminal the bar narrows so that the address still
  // fits; narrower still, the bar goes and the end is cut.
  ProgressFigures at = half;
  at.hasAddress = true;
  at.address = 0x3FF80;
  EXPECT_EQ(FormatProgressLine(at),
            "[##########----------] 1024/2048 blocks 128/256 KiB 880 B/s 2:29 elapsed 2:29 left "
            "h'0003FF80");
  EXPECT_EQ(FormatProgressLine(at, 80),
            "[###---] 1024/2048 blocks 128/256 KiB 880 B/s 2:29 elapsed 2:29 left h'0003FF80");
  EXPECT_EQ(FormatProgressLine(at, 40), "1024/2048 blocks 128/256 KiB 880 B/s 2:");
  EXPECT_EQ(FormatProgressLine(at, 200), FormatProgressLine(at));
  // The line's rate goes with the throughput, so a narrow terminal keeps it.
  ProgressFigures fast = at;
  fast.lineRate = 624000;
  EXPECT_EQ(FormatProgressLine(fast, 60),
            "1024/2048 blocks 128/256 KiB 880 B/s (624000 bit/s) 2:29 el");
  fast.blocksDone = 0;
  EXPECT_NE(FormatProgressLine(fast).find("-- B/s (624000 bit/s) 2:29 elapsed -- left"),
            std::string::npos);
  // Shorter figures leave the bar as wide as before: it does not jump about.
  ProgressFigures early = at;
  early.blocksDone = 3;
  early.elapsedSeconds = 0.4;
  EXPECT_EQ(FormatProgressLine(early, 80).substr(0, 9), "[------] ");

  EXPECT_EQ(FormatDuration(59.6), "1:00");
  EXPECT_EQ(FormatDuration(3725.0), "1:02:05");
  EXPECT_EQ(FormatDuration(-3.0), "0:00");
}

}  // namespace
}  // namespace vantor
