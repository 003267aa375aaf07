// The console program's command line.
#include "app/console/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantor {
namespace {

bool Parse(std::vector<const char*> args, ConsoleOptions& options, std::string& error) {
  args.insert(args.begin(), "vantor");
  return ParseConsoleOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(ConsoleOptionsTest, OptionsAndPositionalsInAnyOrder) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"image.mot", "--dry-run"}, o, error)) << error;
  EXPECT_TRUE(o.dry_run);
  EXPECT_EQ(o.file, "image.mot");
  EXPECT_TRUE(o.port.empty());

  ConsoleOptions p;
  ASSERT_TRUE(Parse({"-n", "a.qpf", "sim"}, p, error)) << error;
  EXPECT_TRUE(p.dry_run);
  EXPECT_EQ(p.file, "a.qpf");
  EXPECT_EQ(p.port, "sim");
}

TEST(ConsoleOptionsTest, DoubleDashLetsFileNamesStartWithADash) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--dry-run", "--", "-odd.mot"}, o, error)) << error;
  EXPECT_EQ(o.file, "-odd.mot");
  ConsoleOptions p;
  ASSERT_TRUE(Parse({"-"}, p, error)) << error;
  EXPECT_EQ(p.file, "-");
}

TEST(ConsoleOptionsTest, AnEmptyFileArgumentKeepsItsPlace) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"", "COM1"}, o, error)) << error;
  EXPECT_TRUE(o.file_given);
  EXPECT_TRUE(o.file.empty());
  EXPECT_EQ(o.port, "COM1");
  ConsoleOptions p;
  ASSERT_TRUE(Parse({"--yes"}, p, error)) << error;
  EXPECT_FALSE(p.file_given);
}

TEST(ConsoleOptionsTest, BoardClockOutsideTheBoardsRangeIsRefusedNamingTheRange) {
  for (const char* hz : {"2000000", "19968000", "20000000"}) {
    ConsoleOptions o;
    std::string error;
    EXPECT_TRUE(Parse({"--board-clock", hz, "a.mot", "sim"}, o, error)) << hz << ": " << error;
  }
  for (const char* hz : {"1999999", "20000001", "25000000", "4294967295"}) {
    ConsoleOptions o;
    std::string error;
    EXPECT_FALSE(Parse({"--board-clock", hz, "a.mot", "sim"}, o, error)) << hz;
    EXPECT_EQ(error, "--board-clock must be between 2 and 20 MHz (2000000 to 20000000 Hz)") << hz;
  }
}

TEST(ConsoleOptionsTest, UnknownOptionsAndExtraArgumentsAreRefused) {
  ConsoleOptions o;
  std::string error;
  EXPECT_FALSE(Parse({"--dry-rn", "a.mot"}, o, error));
  EXPECT_NE(error.find("--dry-rn"), std::string::npos);
  ConsoleOptions p;
  EXPECT_FALSE(Parse({"a.mot", "COM1", "extra"}, p, error));
  EXPECT_NE(error.find("extra"), std::string::npos);
}

TEST(ConsoleOptionsTest, SwitchesAndValuedOptions) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(
      Parse({"-y", "--quiet", "--board-clock", "16000000", "--board-dump=out.bin", "a.mot", "sim"},
            o, error))
      << error;
  EXPECT_TRUE(o.yes);
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.sim_clock_hz, 16000000u);
  EXPECT_EQ(o.sim_dump, "out.bin");
  EXPECT_EQ(o.port, "sim");

  for (std::vector<const char*> bad :
       std::vector<std::vector<const char*>>{{"--quiet", "--verbose", "a.mot"},
                                             {"--board-clock", "0", "a.mot"},
                                             {"--board-clock=4294967296", "a.mot"},
                                             {"--board-clock=16MHz", "a.mot"},
                                             {"a.mot", "--board-dump"},
                                             {"--board-dump=", "a.mot"},
                                             {"--board-clockwork", "a.mot"}}) {
    ConsoleOptions p;
    error.clear();
    EXPECT_FALSE(Parse(bad, p, error)) << bad[0];
    EXPECT_FALSE(error.empty()) << bad[0];
  }
}

// The fast line's options.
TEST(ConsoleOptionsTest, FastAndBaudTakeOneRateRequestAndRefuseBadRates) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--fast", "a.mot", "sim"}, o, error)) << error;
  EXPECT_TRUE(o.fast);
  EXPECT_EQ(o.baud, 0u);
  ConsoleOptions p;
  ASSERT_TRUE(Parse({"a.mot", "--baud", "57600", "sim"}, p, error)) << error;
  EXPECT_EQ(p.baud, 57600u);
  EXPECT_EQ(p.port, "sim");
  ConsoleOptions q;
  ASSERT_TRUE(Parse({"--baud=312000", "a.mot"}, q, error)) << error;
  EXPECT_EQ(q.baud, 312000u);

  for (const std::vector<const char*>& bad : {std::vector<const char*>{"--baud", "fast", "a.mot"},
                                              {"--baud=0", "a.mot"},
                                              {"--baud=600", "a.mot"},
                                              {"--baud=4000001", "a.mot"},
                                              {"a.mot", "--baud"},
                                              {"--fast", "--baud=57600", "a.mot"},
                                              {"--baudrate=9600", "a.mot"}}) {
    ConsoleOptions r;
    error.clear();
    EXPECT_FALSE(Parse(bad, r, error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace vantor
