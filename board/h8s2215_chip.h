// The H8S/2215 on the virtual board: the CPU core on its bus with the
// flash, the RAM and the peripheral registers (three SCI channels, the
// flash controller, the watchdog), the boot ROM's serial boot mode, and the
// host's end of the boot channel's serial line.
//
// Time runs only inside RunUntil. While the boot ROM serves the line, or the
// CPU only polls an empty receiver in a loop that changes nothing, time
// jumps to the next event (a byte completing on the line, the transmitter
// finishing, the watchdog overflowing, the erase ending).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "board/boot_rom.h"
#include "board/cpu.h"
#include "board/emulated_time.h"
#include "board/flash_controller.h"
#include "board/h8s2215_device.h"
#include "board/memory_bus.h"
#include "board/scheduler.h"
#include "board/sci.h"
#include "board/watchdog.h"

namespace vantor::board {

struct ChipOptions {
  std::uint32_t clockHz = device::kDefaultClockHz;
  std::uint32_t loadAddress = device::kDefaultLoadAddress;
  std::uint32_t eraseMicroseconds = device::kDefaultEraseMicroseconds;
};

class H8s2215Chip {
 public:
  explicit H8s2215Chip(const ChipOptions& options = {});
  ~H8s2215Chip();
  H8s2215Chip(const H8s2215Chip&) = delete;
  H8s2215Chip& operator=(const H8s2215Chip&) = delete;

  // Power on with the mode pins in serial boot mode: every register to its
  // reset state, the RAM and the flash keep their contents, the boot ROM
  // waits for the host's H'00 bytes. Emulated time goes on counting.
  void PowerOnBootMode();
  // Changes the clock (takes effect at the next power-on for the boot ROM's
  // measurement; at once for the time windows).
  void SetClock(std::uint32_t clockHz);
  const ChipOptions& Options() const { return options_; }

  // The host's end of the line. HostSend puts a byte on the line now (after
  // the bytes still on their way), sent at the host's bit rate.
  void SetHostBitRate(std::uint32_t bitsPerSecond);
  void HostSend(std::uint8_t byte);
  // A byte that has reached the host by now, as the host's receiver samples
  // it at its own bit rate.
  bool HostReceive(std::uint8_t& byte);
  bool HostHasByte() const { return !hostIn_.empty(); }
  // Bytes from the chip that the host's receiver read with a framing error
  // (its rate too far from the chip's).
  unsigned HostFramingErrors() const { return hostFramingErrors_; }

  // Runs emulated time up to `until` states; with stopOnHostByte it returns
  // as soon as a byte has reached the host.
  void RunUntil(States until, bool stopOnHostByte = false);
  void RunForMicroseconds(double micros, bool stopOnHostByte = false);
  States Now() const { return scheduler_.now(); }

  // Whether the CPU has stopped for good (illegal instruction, SLEEP), and why.
  bool Halted() const { return halted_; }
  const std::string& HaltMessage() const { return haltMessage_; }
  bool CpuRunning() const { return cpuRunning_; }
  unsigned WatchdogResets() const { return watchdogResets_; }
  // States skipped by the polling detector (for tests and measurements).
  States SkippedStates() const { return skipped_; }

  FlashController& Flash() { return flash_; }
  const FlashController& Flash() const { return flash_; }
  // Whether the boot ROM hands over with interrupts unmasked (CCR.I clear,
  // EXR mask 0) instead of masked; for tests of a program that must mask
  // them itself.
  void SetInterruptsOpenAtStart(bool open) { interruptsOpenAtStart_ = open; }
  // Taken at the next power-on.
  void SetLoadAddress(std::uint32_t address) { options_.loadAddress = address; }
  void SetEraseMicroseconds(std::uint32_t micros) { options_.eraseMicroseconds = micros; }
  Sci& BootSci() { return sci_[1]; }
  Sci& SciChannel(unsigned n) { return sci_[n]; }
  Watchdog& Wdt() { return wdt_; }
  BootRom& Boot() { return bootRom_; }
  Cpu& Core() { return cpu_; }
  MemoryBus& Bus() { return bus_; }
  Scheduler& Clock() { return scheduler_; }
  std::vector<std::uint8_t>& Ram() { return ram_; }

  // Called with each line byte, host to chip (true) or chip to host, for
  // the board program's trace.
  using LineTrace = std::function<void(bool toChip, std::uint8_t byte, States at)>;
  void SetLineTrace(LineTrace trace) { lineTrace_ = std::move(trace); }

 private:
  class Registers;
  class FlashArray;
  friend class Registers;
  friend class FlashArray;

  void Service();
  void ScheduleService();
  void StartProgram();
  void WatchdogReset();
  void NotePoll(bool receiverEmpty, std::uint8_t ssr);
  void UpdateFlashOverlay();

  ChipOptions options_;
  MemoryBus bus_;
  Scheduler scheduler_;
  Cpu cpu_;
  std::vector<std::uint8_t> ram_;
  FlashController flash_;
  Sci sci_[3];
  Watchdog wdt_;
  BootRom bootRom_;
  std::unique_ptr<Registers> registers_;
  std::unique_ptr<FlashArray> flashArray_;

  double hostBitStates_;
  States lineFreeAt_ = 0;
  std::deque<std::uint8_t> hostIn_;
  unsigned hostFramingErrors_ = 0;
  bool stopOnHostByte_ = false;
  Scheduler::EventId serviceEvent_ = 0;
  States serviceAt_ = kNever;
  bool overlayMapped_ = false;

  bool interruptsOpenAtStart_ = false;
  bool cpuRunning_ = false;
  bool halted_ = false;
  std::string haltMessage_;
  bool resetPending_ = false;
  States resetAt_ = 0;
  unsigned watchdogResets_ = 0;
  unsigned overflowsSeen_ = 0;

  // Polling detector: the core's state at the last empty-receiver read, and
  // the value that read returned.
  struct PollSnapshot {
    bool valid = false;
    std::uint8_t ssr = 0;
    std::uint32_t pc = 0;
    std::uint32_t er[8] = {};
    std::uint8_t ccr = 0;
    States at = 0;
    std::uint64_t accesses = 0;
  } poll_;
  std::uint64_t registerAccesses_ = 0;
  States runLimit_ = 0;
  States skipped_ = 0;
  LineTrace lineTrace_;
};

}  // namespace vantor::board
