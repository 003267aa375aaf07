// vantor-board: the virtual board on a pseudo-terminal.
//
// Prints the slave path of a pseudo-terminal and serves the H8S/2215 in
// serial boot mode on it; a host program opens that path as its serial
// port. Each time the host closes the port the board powers on again in
// boot mode (and saves the flash when --dump is given). SIGINT or SIGTERM
// stops it after saving the dump; the exit status is then 0, or 3 when the
// flash procedure was broken (each breach is reported on standard error).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "board/clock_range.h"
#include "board/flash_image.h"
#include "board/h8s2215_chip.h"
#include "board/line_faults.h"
#include "link/serial_posix.h"

namespace {

using vantor::board::H8s2215Chip;
using vantor::board::States;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

struct Options {
  vantor::board::ChipOptions chip;
  bool realtime = false;
  bool trace = false;
  std::string link, flashIn, dump;
  std::vector<vantor::board::LineFault> lineFaults;
};

void Usage() {
  std::fputs(
      "usage: vantor-board [options]\n"
      "  --clock HZ            the chip's clock (default 19968000)\n"
      "  --realtime            pace emulated time to the wall clock\n"
      "  --load-address ADDR   where the boot ROM stores the program\n"
      "  --erase-time US       emulated time of the boot ROM's erase\n"
      "  --flash-in FILE       flash contents at start (256 KiB image)\n"
      "  --dump FILE           save the flash at each close and at the end\n"
      "  --link PATH           make PATH a symbolic link to the slave\n"
      "  --slow-cell ADDR:N    the cell at ADDR programs on its Nth pulse\n"
      "  --dead-cell ADDR      the cell at ADDR never programs\n"
      "  --stuck-cell ADDR     the cell at ADDR never erases\n"
      "  --unstable-cell ADDR  the cell at ADDR loses its charge once after it verified\n"
      "  --trace               line bytes and flash violations on stderr\n"
      "  --line-fault FAULT    a fault on the line, counted from the first byte\n"
      "                        after the erase answer (may be repeated):\n"
      "                        flip:N:B (bit B of the host's N-th byte),\n"
      "                        drop:N (the host's N-th byte is lost),\n"
      "                        reply-flip:N:B (bit B of the board's N-th byte)\n",
      stderr);
}

bool ParseNumber(const char* text, unsigned long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(text, &end, 0);
  return errno == 0 && end != text && *end == '\0';
}

// The host's bit rate, as it set the slave side of the terminal.
// The rate the host set on its end of the pseudo-terminal: on Linux the two
// ends share one setting, so the board reads it from the master, free rates
// (termios2) included. 9600 when it cannot be read.
std::uint32_t HostBaud(int master) {
  std::uint32_t rate = 0;
  if (!vantor::ReadLineRate(master, rate) || rate == 0) return 9600;
  return rate;
}

void ReportViolations(const H8s2215Chip& chip, std::size_t& reported) {
  const auto& violations = chip.Flash().Violations();
  for (; reported < violations.size(); ++reported) {
    const auto& v = violations[reported];
    std::fprintf(stderr, "flash violation at %.1f us, H'%06X: %s: %s",
                 vantor::board::StatesToNs(v.at, chip.Options().clockHz) / 1000.0,
                 static_cast<unsigned>(v.address), vantor::board::FlashRuleName(v.rule),
                 v.detail.c_str());
    if (v.repeats > 0) std::fprintf(stderr, " (and %u more like it)", v.repeats);
    std::fputc('\n', stderr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  struct Fault {
    int kind;
    unsigned long address, pulses;
  };
  std::vector<Fault> faults;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](unsigned long& out) {
      if (i + 1 >= argc || !ParseNumber(argv[++i], out)) {
        std::fprintf(stderr, "vantor-board: %s needs a number\n", arg.c_str());
        std::exit(2);
      }
    };
    auto text = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vantor-board: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      out = argv[++i];
    };
    unsigned long n = 0;
    if (arg == "--clock") {
      value(n);
      // A value beyond 32 bits must not wrap into the range.
      options.chip.clockHz = n > 0xFFFFFFFFul ? 0 : static_cast<std::uint32_t>(n);
    } else if (arg == "--load-address") {
      value(n);
      options.chip.loadAddress = static_cast<std::uint32_t>(n);
    } else if (arg == "--erase-time") {
      value(n);
      options.chip.eraseMicroseconds = static_cast<std::uint32_t>(n);
    } else if (arg == "--realtime") {
      options.realtime = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--flash-in") {
      text(options.flashIn);
    } else if (arg == "--dump") {
      text(options.dump);
    } else if (arg == "--link") {
      text(options.link);
    } else if (arg == "--dead-cell" || arg == "--stuck-cell" || arg == "--unstable-cell") {
      value(n);
      if (n >= vantor::board::device::kFlashSize) {
        std::fprintf(stderr, "vantor-board: %s takes an address below H'40000\n", arg.c_str());
        return 2;
      }
      faults.push_back({arg == "--dead-cell" ? 0 : arg == "--stuck-cell" ? 1 : 3, n, 0});
    } else if (arg == "--slow-cell") {
      std::string cell;
      text(cell);
      const auto colon = cell.find(':');
      unsigned long address = 0, pulses = 0;
      if (colon == std::string::npos || !ParseNumber(cell.substr(0, colon).c_str(), address) ||
          !ParseNumber(cell.substr(colon + 1).c_str(), pulses)) {
        std::fputs("vantor-board: --slow-cell takes ADDR:PULSES\n", stderr);
        return 2;
      }
      faults.push_back({2, address, pulses});
    } else if (arg == "--line-fault") {
      std::string faultText, error;
      text(faultText);
      vantor::board::LineFault fault;
      if (!vantor::board::ParseLineFault(faultText, fault, error)) {
        std::fprintf(stderr, "vantor-board: %s\n", error.c_str());
        return 2;
      }
      options.lineFaults.push_back(fault);
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "vantor-board: unknown option %s\n", arg.c_str());
      Usage();
      return 2;
    }
  }
  if (!vantor::board::ClockInRange(options.chip.clockHz)) {
    std::fprintf(stderr, "vantor-board: %s\n", vantor::board::ClockRangeError("--clock").c_str());
    return 2;
  }

  H8s2215Chip chip(options.chip);
  vantor::board::LineFaults lineFaults;
  lineFaults.Set(options.lineFaults);
  for (const Fault& f : faults) {
    const auto address = static_cast<std::uint32_t>(f.address);
    if (f.kind == 0) chip.Flash().NeverPrograms(address);
    if (f.kind == 1) chip.Flash().NeverErases(address);
    if (f.kind == 2) chip.Flash().NeedsPulses(address, static_cast<unsigned>(f.pulses));
    if (f.kind == 3) chip.Flash().LosesChargeOnce(address);
  }
  if (!options.flashIn.empty() && !vantor::board::LoadFlash(chip, options.flashIn)) {
    std::fprintf(stderr, "vantor-board: cannot read %s\n", options.flashIn.c_str());
    return 1;
  }
  if (options.trace) {
    chip.SetLineTrace([&chip](bool toChip, std::uint8_t byte, States at) {
      std::fprintf(stderr, "%10.3f ms %s %02X\n",
                   vantor::board::StatesToNs(at, chip.Options().clockHz) / 1e6,
                   toChip ? "host->chip" : "chip->host", byte);
    });
  }

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("vantor-board: pseudo-terminal");
    return 1;
  }
  const char* slave = ptsname(master);
  {
    // Raw line on the slave side until the host sets its own.
    termios tio{};
    const int fd = open(slave, O_RDWR | O_NOCTTY);
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
      cfmakeraw(&tio);
      cfsetspeed(&tio, B9600);
      tcsetattr(fd, TCSANOW, &tio);
    }
    if (fd >= 0) close(fd);
  }
  if (!options.link.empty()) {
    unlink(options.link.c_str());
    if (symlink(slave, options.link.c_str()) != 0) {
      std::perror("vantor-board: --link");
      return 1;
    }
  }
  std::printf("%s\n", slave);
  std::fflush(stdout);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  bool hostConnected = false;
  std::uint32_t hostRate = 9600;  // the host's rate the board last took
  bool idle = true;               // nothing will happen on the board until the host sends
  std::size_t reported = 0;
  const auto wallStart = std::chrono::steady_clock::now();
  const States emulatedStart = chip.Now();
  const double statesPerMicro = options.chip.clockHz / 1e6;
  auto saveDump = [&] {
    if (!options.dump.empty() && !vantor::board::SaveFlash(chip, options.dump)) {
      std::fprintf(stderr, "vantor-board: cannot write %s\n", options.dump.c_str());
    }
  };

  // With --realtime: the emulated time that the wall clock has reached.
  auto wallClockStates = [&] {
    const double micros =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - wallStart)
            .count();
    return emulatedStart + static_cast<States>(micros * statesPerMicro);
  };

  while (!g_stop) {
    pollfd pfd{master, POLLIN, 0};
    const int ready = poll(&pfd, 1, idle ? 20 : 0);
    if (ready < 0 && errno != EINTR) break;
    if (pfd.revents & POLLHUP) {
      if (hostConnected) {
        // The host closed the port: save, report, and power on in boot mode.
        hostConnected = false;
        ReportViolations(chip, reported);
        saveDump();
        chip.PowerOnBootMode();
        lineFaults.PowerOn();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (pfd.revents & POLLIN) {
      // The host may have changed its rate since its last bytes (the fast
      // line): the board compares each byte's rate with the SCI's.
      const std::uint32_t rate = HostBaud(master);
      if (!hostConnected || rate != hostRate) chip.SetHostBitRate(rate);
      hostRate = rate;
      hostConnected = true;
      // Paced to the wall clock, the board may have waited in poll() while
      // nothing happened: the bytes arrive now, not when it last ran (a
      // byte stamped early could reach the chip before it is ready for it,
      // such as the probe right after a rate switch).
      if (options.realtime) {
        const States now = wallClockStates();
        if (now > chip.Now()) chip.RunUntil(now);
      }
      std::uint8_t buffer[256];
      const ssize_t n = read(master, buffer, sizeof buffer);
      for (ssize_t i = 0; i < n; ++i) {
        if (lineFaults.ToBoard(buffer[i])) chip.HostSend(buffer[i]);
      }
    } else if (ready == 0 && !hostConnected) {
      hostConnected = true;  // the slave is open (no hang-up), nothing sent yet
    }

    // Run the board: with --realtime up to the wall clock, otherwise a slice
    // of 10 ms of emulated time at a time, as fast as it goes.
    States until = chip.Now() + static_cast<States>(10000 * statesPerMicro);
    if (options.realtime) {
      until = wallClockStates();
      if (until <= chip.Now()) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        continue;
      }
    }
    const States from = chip.Now();
    const States skippedBefore = chip.SkippedStates();
    chip.RunUntil(until);
    // Idle: no event ahead, and the CPU is not running or spent the slice
    // polling an empty receiver.
    const bool noEvents = chip.Clock().nextEventTime() == vantor::board::Scheduler::kNever;
    const bool polling = chip.SkippedStates() - skippedBefore >= (chip.Now() - from) / 2;
    idle = noEvents && (!chip.CpuRunning() || polling);
    std::uint8_t byte = 0;
    while (chip.HostReceive(byte)) {
      lineFaults.ToHost(chip, byte);
      if (write(master, &byte, 1) != 1) break;
    }
    if (chip.Halted()) {
      static bool told = false;
      if (!told)
        std::fprintf(stderr, "vantor-board: CPU stopped: %s\n", chip.HaltMessage().c_str());
      told = true;
    }
    if (options.trace) ReportViolations(chip, reported);
  }

  ReportViolations(chip, reported);
  saveDump();
  if (!options.link.empty()) unlink(options.link.c_str());
  close(master);
  // A run in which the flash procedure was broken ends with status 3.
  std::fprintf(stderr, "vantor-board: %zu flash violation(s)\n", reported);
  return reported == 0 ? 0 : 3;
}
