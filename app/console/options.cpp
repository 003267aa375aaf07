#include "app/console/options.h"

#include <cstring>

namespace vantor {

namespace {

// Takes one positional argument into the first free slot.
bool TakePositional(const char* arg, ConsoleOptions& options, std::string& error) {
  if (options.file.empty()) {
    options.file = arg;
  } else if (options.port.empty()) {
    options.port = arg;
  } else {
    error = std::string("unexpected argument '") + arg + "'";
    return false;
  }
  return true;
}

}  // namespace

bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& options,
                         std::string& error) {
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options_ended || arg[0] != '-' || arg[1] == '\0') {
      if (!TakePositional(arg, options, error)) return false;
    } else if (std::strcmp(arg, "--") == 0) {
      options_ended = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options.help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
      options.version = true;
    } else if (std::strcmp(arg, "--dry-run") == 0 || std::strcmp(arg, "-n") == 0) {
      options.dry_run = true;
    } else {
      error = std::string("unknown option '") + arg + "'";
      return false;
    }
  }
  return true;
}

const char* ConsoleUsage() {
  return "usage: vantor --dry-run FILE\n"
         "\n"
         "Loads FILE (.mot S-records or .qpf packed records) into the image of the\n"
         "H8S/2215 flash and prints what a write would send: the non-blank 128-byte\n"
         "blocks, their address ranges, and the bytes and time on the line.\n"
         "\n"
         "options:\n"
         "  -n, --dry-run   load and plan only; nothing is sent\n"
         "  -h, --help      this text\n"
         "      --version   the program's version\n"
         "\n"
         "exit status: 0 done, 1 the file could not be loaded, 2 wrong usage\n";
}

}  // namespace vantor
