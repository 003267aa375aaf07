// The command line of the console program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantor {

struct ConsoleOptions {
  bool help = false;
  bool version = false;
  bool dry_run = false;            // load and print the block plan; nothing is sent
  bool list_ports = false;         // print the serial ports of this machine
  bool yes = false;                // answer both prompts at once
  bool quiet = false;              // print only errors
  bool verbose = false;            // trace every byte on the line in hex
  std::string sim_dump;            // "sim": save the board's flash here when the port closes
  std::uint32_t sim_clock_hz = 0;  // "sim": the board's clock; 0 for its default
  // Write checks (verify helper's block).
  bool no_verify = false;                    // skip the CRC check of the flash after the last block
  bool strict = false;                       // refuse a file with a wrong record checksum (106)
  std::vector<std::string> sim_line_faults;  // "sim": --board-line-fault FAULTs, in order
  // The fast line: --fast for the highest rate chip and port reach, --baud
  // for one rate (0: not asked).
  bool fast = false;
  std::uint32_t baud = 0;
  std::string file;         // first positional argument
  bool file_given = false;  // a FILE argument was given, even an empty one
  std::string port;         // second positional argument
};

// Reads argv[1..argc). Options may stand anywhere; "--" ends them. Returns
// false with a one-line reason in `error` for an unknown option, a third
// positional argument, --quiet together with --verbose, or a missing or bad
// value of --board-clock (a whole number of hertz within the virtual board's
// range) or --board-dump, a bad --baud rate, or --fast together with --baud.
// An empty FILE argument counts as given.
bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& options,
                         std::string& error);

// The short usage (for mistakes) and the whole help text, each ending in a
// line feed.
const char* ConsoleUsage();
const char* ConsoleHelp();

}  // namespace vantor
