// The dialog program's command line: the program name skipped, the rest
// split at its first blank into the file and port fields.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "app/operator_panel.h"

namespace vantor {
namespace {

struct Split {
  std::string file, port;
  StartupSplit result;
};

Split SplitOf(const char* arguments) {
  std::snprintf(g_filePath, sizeof g_filePath, "stale");
  std::snprintf(g_portName, sizeof g_portName, "stale");
  Split split;
  split.result = SplitStartupArguments(arguments);
  split.file = g_filePath;
  split.port = g_portName;
  return split;
}

TEST(CommandLineTest, SkipsTheProgramNameQuotedOrNot) {
  EXPECT_STREQ(SkipProgramName("\"C:\\Program Files\\Vantor.exe\" a.mot COM1"), "a.mot COM1");
  EXPECT_STREQ(SkipProgramName("Vantor.exe   \t a.mot COM1 "), "a.mot COM1 ");
  EXPECT_STREQ(SkipProgramName("Vantor.exe"), "");
  EXPECT_STREQ(SkipProgramName("\"unclosed quote a.mot"), "");
  // Japanese in UTF-8 is above 0x20 byte by byte: never taken for a blank.
  EXPECT_STREQ(SkipProgramName("書き込み.exe 書.mot sim"), "書.mot sim");
}

TEST(CommandLineTest, SplitsAtTheFirstBlankOnly) {
  Split both = SplitOf("a.mot COM1");
  EXPECT_EQ(both.file, "a.mot");
  EXPECT_EQ(both.port, "COM1");

  Split fileOnly = SplitOf("a.mot");
  EXPECT_EQ(fileOnly.file, "a.mot");
  EXPECT_EQ(fileOnly.port, "") << "the port field starts empty";

  Split trailing = SplitOf("a.mot ");
  EXPECT_EQ(trailing.file, "a.mot");
  EXPECT_EQ(trailing.port, "");

  Split twoBlanks = SplitOf("a.mot  COM1");
  EXPECT_EQ(twoBlanks.port, " COM1") << "nothing is trimmed";

  Split quoted = SplitOf("\"my file.mot\" COM10");
  EXPECT_EQ(quoted.file, "\"my");
  EXPECT_EQ(quoted.port, "file.mot\" COM10") << "quotes protect nothing";

  Split tab = SplitOf("a.mot\tCOM1");
  EXPECT_EQ(tab.file, "a.mot\tCOM1") << "only a blank separates";

  Split none = SplitOf("");
  EXPECT_EQ(none.file, "");
  EXPECT_EQ(none.port, "");
}

TEST(CommandLineTest, APartTooLongForItsBufferIsRefusedWhole) {
  const std::string longPath(kFilePathCapacity, 'p');
  Split tooLong = SplitOf((longPath + " COM1").c_str());
  EXPECT_TRUE(tooLong.result.fileRefused);
  EXPECT_EQ(tooLong.file, "");
  EXPECT_EQ(tooLong.port, "COM1");

  const std::string fits(kFilePathCapacity - 1, 'p');
  Split exact = SplitOf((fits + " " + std::string(kPortNameCapacity, 'c')).c_str());
  EXPECT_FALSE(exact.result.fileRefused);
  EXPECT_EQ(exact.file, fits);
  EXPECT_TRUE(exact.result.portRefused);
  EXPECT_EQ(exact.port, "");
}

}  // namespace
}  // namespace vantor
