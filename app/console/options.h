// The command line of the console program.
#pragma once

#include <string>

namespace vantor {

struct ConsoleOptions {
  bool help = false;
  bool version = false;
  bool dry_run = false;  // load and print the block plan; nothing is sent
  std::string file;      // first positional argument
  std::string port;      // second positional argument
};

// Reads argv[1..argc). Options may stand anywhere; "--" ends them. Returns
// false with a one-line reason in `error` for an unknown option or a third
// positional argument.
bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& options,
                         std::string& error);

// The usage text, ending in a line feed.
const char* ConsoleUsage();

}  // namespace vantor
