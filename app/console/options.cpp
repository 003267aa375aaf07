#include "app/console/options.h"

#include <cstdint>
#include <cstring>

#ifdef VANTOR_HAS_SIM_BOARD
#include "board/clock_range.h"
#endif

namespace vantor {

namespace {

// Takes one positional argument into the first free slot.
// An empty FILE still takes its slot: it is an empty file field, not a
// missing one, so "vantor '' COM1" never takes COM1 for the file.
bool TakePositional(const char* arg, ConsoleOptions& options, std::string& error) {
  if (!options.file_given) {
    options.file = arg;
    options.file_given = true;
  } else if (options.port.empty()) {
    options.port = arg;
  } else {
    error = std::string("unexpected argument '") + arg + "'";
    return false;
  }
  return true;
}

struct Flag {
  const char* longName;
  const char* shortName;  // nullptr: none
  bool ConsoleOptions::*member;
};

constexpr Flag kFlags[] = {
    {"--help", "-h", &ConsoleOptions::help},
    {"--version", nullptr, &ConsoleOptions::version},
    {"--dry-run", "-n", &ConsoleOptions::dry_run},
    {"--list-ports", nullptr, &ConsoleOptions::list_ports},
    {"--yes", "-y", &ConsoleOptions::yes},
    {"--quiet", "-q", &ConsoleOptions::quiet},
    {"--verbose", "-v", &ConsoleOptions::verbose},
    // Write checks.
    {"--no-verify", nullptr, &ConsoleOptions::no_verify},
    {"--strict", nullptr, &ConsoleOptions::strict},
};

// Options with a value: "--name=value" or "--name value". Returns false when
// `arg` is not `name`; sets `error` when the value is missing.
bool TakeValue(const char* name, int argc, const char* const* argv, int& i, std::string& value,
               std::string& error) {
  const std::size_t length = std::strlen(name);
  const char* arg = argv[i];
  if (std::strncmp(arg, name, length) != 0) return false;
  if (arg[length] == '=') {
    value = arg + length + 1;
  } else if (arg[length] == '\0' && i + 1 < argc) {
    value = argv[++i];
  } else if (arg[length] == '\0') {
    error = std::string(name) + " needs a value";
  } else {
    return false;
  }
  if (value.empty() && error.empty()) error = std::string(name) + " needs a value";
  return true;
}

constexpr std::uint32_t kLowestBaud = 1200;
constexpr std::uint32_t kHighestBaud = 4000000;

bool ParseHertz(const std::string& text, std::uint32_t& hz) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 0xFFFFFFFFu) return false;
  hz = static_cast<std::uint32_t>(value);
  return true;
}

// The fast line's options: --fast, --baud RATE. True when `arg` was one of
// them (`error` set when its value is bad).
bool TakeLineRateOption(const char* arg, int argc, const char* const* argv, int& i,
                        ConsoleOptions& options, std::string& error) {
  if (std::strcmp(arg, "--fast") == 0) {
    options.fast = true;
    return true;
  }
  std::string value;
  if (!TakeValue("--baud", argc, argv, i, value, error)) return false;
  if (!error.empty()) return true;
  std::uint32_t rate = 0;
  if (!ParseHertz(value, rate) || rate < kLowestBaud || rate > kHighestBaud) {
    error = "--baud takes a bit rate from 1200 to 4000000, for example 115200";
  } else {
    options.baud = rate;
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
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      options_ended = true;
      continue;
    }
    std::string value;
    if (TakeValue("--board-dump", argc, argv, i, value, error)) {
      if (!error.empty()) return false;
      options.sim_dump = value;
      continue;
    }
    if (TakeValue("--board-line-fault", argc, argv, i, value, error)) {
      if (!error.empty()) return false;
      options.sim_line_faults.push_back(value);
      continue;
    }
    if (TakeValue("--board-clock", argc, argv, i, value, error)) {
      if (!error.empty()) return false;
      if (!ParseHertz(value, options.sim_clock_hz)) {
        error = "--board-clock takes the board's clock in hertz, for example 19968000";
        return false;
      }
#ifdef VANTOR_HAS_SIM_BOARD
      if (!board::ClockInRange(options.sim_clock_hz)) {
        error = board::ClockRangeError("--board-clock");
        return false;
      }
#endif
      continue;
    }
    if (TakeLineRateOption(arg, argc, argv, i, options, error)) {
      if (!error.empty()) return false;
      continue;
    }
    bool known = false;
    for (const Flag& flag : kFlags) {
      if (std::strcmp(arg, flag.longName) == 0 ||
          (flag.shortName != nullptr && std::strcmp(arg, flag.shortName) == 0)) {
        options.*flag.member = true;
        known = true;
        break;
      }
    }
    if (!known) {
      error = std::string("unknown option '") + arg + "'";
      return false;
    }
  }
  if (options.quiet && options.verbose) {
    error = "--quiet and --verbose exclude each other";
    return false;
  }
  if (options.fast && options.baud != 0) {
    error = "--fast and --baud exclude each other";
    return false;
  }
  return true;
}

const char* ConsoleUsage() {
  return "usage: vantor [options] FILE [PORT]\n"
         "       vantor --dry-run FILE | --list-ports | --help | --version\n"
         "Try 'vantor --help' for more.\n";
}

const char* ConsoleHelp() {
  return "usage: vantor [options] FILE [PORT]\n"
         "\n"
         "Writes a program into the 256 KiB flash of a Renesas H8S/2215 board over a\n"
         "serial line. The board's chip is started in its serial boot mode, receives\n"
         "Vantor's write-control program, erases its flash, and then takes every\n"
         "128-byte block of FILE that is not blank (all 0xFF) at 9600 bit/s, or\n"
         "faster with --fast or --baud.\n"
         "\n"
         "FILE   the program to write:\n"
         "         .mot  Motorola S-records (S1/S2/S3 data records)\n"
         "         .qpf  packed records (the same records in binary)\n"
         "       Addresses in the file are flash addresses, 0 to h'3FFFF.\n"
         "PORT   the serial port the board is connected to:\n"
#ifdef _WIN32
         "         COM1, COM2, ... COM10 and above work as well\n"
#elif defined(__APPLE__)
         "         a device path such as /dev/cu.usbserial-1420\n"
#else
         "         a device path such as /dev/ttyUSB0 or /dev/serial/by-id/...;\n"
         "         COM1, COM2, ... name the on-board ports /dev/ttyS0, /dev/ttyS1, ...\n"
#endif
#ifdef VANTOR_HAS_SIM_BOARD
         "         sim  the virtual board built into this program (an emulated chip)\n"
#endif
         "       'vantor --list-ports' shows the ports of this machine.\n"
         "       Without PORT the file is only loaded and checked, and the program\n"
         "       stops with Err:0050 (no port selected).\n"
         "\n"
         "The write asks twice (press Enter to go on):\n"
         "  スイッチを切り替えて電源を入れてください\n"
         "      set the board's mode switch to boot mode and switch the power on;\n"
         "  電源を切ってからスイッチを元に戻して下さい\n"
         "      at the end: switch the power off, then set the switch back.\n"
         "Progress shows as status lines, and as a progress bar on a terminal.\n"
         "\n"
         "options:\n"
         "  -y, --yes              answer both prompts at once (the board is already set)\n"
         "  -q, --quiet            print only errors (and the prompts, unless --yes)\n"
         "  -v, --verbose          also trace every byte on the line in hex (> sent, < received)\n"
         "  -n, --dry-run          load FILE and show the blocks a write would send; no port\n"
         "      --no-verify        skip the check after the last block (the chip's CRC-32\n"
         "                         of its whole flash against the file's); the line then\n"
         "                         carries only the write itself\n"
         "      --strict           refuse a file in which an S-record's checksum is wrong\n"
         "                         (Err:0106) instead of writing it with a warning\n"
         "      --list-ports       print the serial ports of this machine\n"
         "      --fast             after the boot exchange, switch the line to the highest\n"
         "                         bit rate that the chip (at its reported clock) and the\n"
         "                         port both reach, for the blocks; 9600 if none is faster\n"
         "      --baud RATE        the same with one bit rate; fails before the first\n"
         "                         block when the chip cannot come within 2 % of it or the\n"
         "                         port refuses it\n"
         "      --board-clock HZ   the virtual board's clock, 2-20 MHz (default 19968000)\n"
         "      --board-dump FILE  save the virtual board's flash (256 KiB, byte i for\n"
         "                         address i) into FILE when the write ends\n"
         "      --board-line-fault FAULT\n"
         "                         damage the line to the virtual board (may be repeated),\n"
         "                         counting bytes from 1 after its erase answer:\n"
         "                         flip:N:B (bit B of the N-th byte sent), drop:N (the\n"
         "                         N-th byte sent is lost), reply-flip:N:B (bit B of the\n"
         "                         N-th byte received)\n"
         "  -h, --help             this text\n"
         "      --version          the program's version\n"
         "\n"
         "example:\n"
#ifdef _WIN32
         "  vantor-cli app.mot COM3\n"
#else
         "  vantor app.mot /dev/ttyUSB0\n"
#endif
         "  vantor --yes app.mot sim     (a write to the built-in virtual board)\n"
         "\n"
         "A failure prints its code and message, for example\n"
         "  Err:0103 ファイルが見つかりません   (the file cannot be found)\n"
         "and then 書き込み出来ませんでした (writing failed). Ctrl-C stops a write and\n"
         "closes the port.\n"
         "\n"
         "exit status: 0 written (or planned), 1 failed, 2 wrong usage, 3 the virtual board\n"
         "saw the flash procedure broken, 130 interrupted\n";
}

}  // namespace vantor
