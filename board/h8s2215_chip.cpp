#include "board/h8s2215_chip.h"

#include <algorithm>
#include <cstring>

namespace vantor::board {

namespace d = device;

namespace {
constexpr std::uint32_t kRegistersSize = 0x1000000 - d::kRegistersStart;
constexpr std::uint8_t kSsrErrors = d::kSsrOrer | d::kSsrFer | d::kSsrPer;
}  // namespace

// The peripheral registers, H'FFFE40..H'FFFFFF. Registers the board does not
// model read back what was written.
class H8s2215Chip::Registers : public Device {
 public:
  explicit Registers(H8s2215Chip& chip) : chip_(chip) { std::memset(other_, 0, sizeof other_); }

  std::uint8_t Read8(std::uint32_t address) override {
    ++chip_.registerAccesses_;
    const States now = chip_.scheduler_.now();
    int channel = 0;
    unsigned offset = 0;
    if (SciAt(address, channel, offset)) {
      const std::uint8_t value = chip_.sci_[channel].Read(offset, now);
      if (offset == d::kSciSsr) {
        chip_.NotePoll((value & (d::kSsrRdrf | kSsrErrors)) == 0, value);
      }
      return value;
    }
    if (address >= d::kFlmcr1 && address <= d::kEbr2)
      return chip_.flash_.ReadRegister(address, now);
    if (address == d::kWdtTcsr) return chip_.wdt_.Read(0, now);
    if (address == d::kWdtTcnt) return chip_.wdt_.Read(1, now);
    return other_[address - d::kRegistersStart];
  }

  void Write8(std::uint32_t address, std::uint8_t value) override {
    ++chip_.registerAccesses_;
    const States now = chip_.scheduler_.now();
    int channel = 0;
    unsigned offset = 0;
    if (SciAt(address, channel, offset)) {
      chip_.sci_[channel].Write(offset, value, now);
    } else if (address >= d::kFlmcr1 && address <= d::kEbr2) {
      chip_.flash_.WriteRegister(address, value, now);
      chip_.UpdateFlashOverlay();
    } else if (address == d::kWdtTcsr || address == d::kWdtTcnt) {
      chip_.wdt_.WriteByte(address - d::kWdtTcsr, value, now);
    } else {
      other_[address - d::kRegistersStart] = value;
    }
    chip_.ScheduleService();
  }

  void Write16(std::uint32_t address, std::uint16_t value) override {
    if (address == d::kWdtTcsr) {
      ++chip_.registerAccesses_;
      chip_.wdt_.WriteWord(value, chip_.scheduler_.now());
      chip_.ScheduleService();
      return;
    }
    Device::Write16(address, value);
  }

  std::uint8_t Peek8(std::uint32_t address) override {
    int channel = 0;
    unsigned offset = 0;
    if (SciAt(address, channel, offset)) {
      return offset == d::kSciSsr ? chip_.sci_[channel].Ssr() : 0;
    }
    if (address >= d::kFlmcr1 && address <= d::kEbr2) return chip_.flash_.ReadRegister(address, 0);
    return other_[address - d::kRegistersStart];
  }

 private:
  static bool SciAt(std::uint32_t address, int& channel, unsigned& offset) {
    const std::uint32_t bases[3] = {d::kSci0Base, d::kSci1Base, d::kSci2Base};
    for (int n = 0; n < 3; ++n) {
      if (address >= bases[n] && address < bases[n] + 6) {
        channel = n;
        offset = address - bases[n];
        return true;
      }
    }
    return false;
  }

  H8s2215Chip& chip_;
  std::uint8_t other_[kRegistersSize];
};

// The flash as the CPU reaches it through the controller: every write, and
// while the controller is in a programming mode every read.
class H8s2215Chip::FlashArray : public Device {
 public:
  explicit FlashArray(H8s2215Chip& chip) : chip_(chip) {}
  std::uint8_t Read8(std::uint32_t address) override {
    return static_cast<std::uint8_t>(chip_.flash_.ReadArray(address, 1, chip_.scheduler_.now()));
  }
  std::uint16_t Read16(std::uint32_t address) override {
    return static_cast<std::uint16_t>(chip_.flash_.ReadArray(address, 2, chip_.scheduler_.now()));
  }
  void Write8(std::uint32_t address, std::uint8_t value) override {
    chip_.flash_.WriteArray(address, value, 1, chip_.scheduler_.now());
  }
  void Write16(std::uint32_t address, std::uint16_t value) override {
    chip_.flash_.WriteArray(address, value, 2, chip_.scheduler_.now());
  }
  std::uint8_t Peek8(std::uint32_t address) override {
    return chip_.flash_.Contents()[address % d::kFlashSize];
  }

 private:
  H8s2215Chip& chip_;
};

H8s2215Chip::H8s2215Chip(const ChipOptions& options)
    : options_(options),
      cpu_(bus_, scheduler_),
      ram_(d::kRamSize, 0),
      flash_(options.clockHz),
      bootRom_(sci_[1], flash_,
               [this](std::uint32_t address, std::uint8_t value) {
                 if (address >= d::kRamStart && address < d::kRamEnd) {
                   ram_[address - d::kRamStart] = value;
                 }
               }),
      registers_(std::make_unique<Registers>(*this)),
      flashArray_(std::make_unique<FlashArray>(*this)) {
  flash_.AttachWatchdog(&wdt_);
  scheduler_.set_clockHz(options.clockHz);
  Region flash;
  flash.name = "flash";
  flash.base = d::kFlashStart;
  flash.size = d::kFlashSize;
  flash.data = flash_.Contents().data();
  flash.writable = false;
  flash.device = flashArray_.get();
  bus_.Map(flash);
  Region ram;
  ram.name = "ram";
  ram.base = d::kRamStart;
  ram.size = d::kRamSize;
  ram.data = ram_.data();
  ram.writable = true;
  bus_.Map(ram);
  Region registers;
  registers.name = "registers";
  registers.base = d::kRegistersStart;
  registers.size = kRegistersSize;
  registers.device = registers_.get();
  registers.states = 2;
  registers.width = 8;
  bus_.Map(registers);
  SetHostBitRate(9600);
  bootRom_.Configure({options.loadAddress, options.eraseMicroseconds});
  PowerOnBootMode();
}

H8s2215Chip::~H8s2215Chip() = default;

void H8s2215Chip::SetClock(std::uint32_t clockHz) {
  const double baud = options_.clockHz / hostBitStates_;
  options_.clockHz = clockHz;
  scheduler_.set_clockHz(clockHz);
  flash_.SetClock(clockHz);
  bootRom_.SetClock(clockHz);
  hostBitStates_ = clockHz / baud;
}

void H8s2215Chip::SetHostBitRate(std::uint32_t bitsPerSecond) {
  hostBitStates_ = static_cast<double>(options_.clockHz) / bitsPerSecond;
}

void H8s2215Chip::PowerOnBootMode() {
  flash_.PowerOn();
  flash_.SetWriteEnablePin(true);
  for (Sci& sci : sci_) sci.Reset();
  wdt_.Reset();
  bootRom_.SetClock(options_.clockHz);
  bootRom_.Configure({options_.loadAddress, options_.eraseMicroseconds});
  bootRom_.PowerOn();
  if (overlayMapped_) {
    bus_.Unmap("flash-procedure");
    overlayMapped_ = false;
  }
  cpuRunning_ = false;
  halted_ = false;
  haltMessage_.clear();
  resetPending_ = false;
  cpu_.ClearStop();
  hostIn_.clear();
  poll_.valid = false;
  ScheduleService();
}

void H8s2215Chip::HostSend(std::uint8_t byte) {
  const States start = std::max(scheduler_.now(), lineFreeAt_);
  const double bit = hostBitStates_;
  const States done = start + static_cast<States>(10.0 * bit + 0.5);
  lineFreeAt_ = done;
  scheduler_.At(done, [this, byte, bit] {
    const States now = scheduler_.now();
    if (lineTrace_) lineTrace_(true, byte, now);
    sci_[1].LineByteArrived(byte, bit, now);
    bootRom_.OnLineByte(byte, bit, now);
    Service();
  });
}

bool H8s2215Chip::HostReceive(std::uint8_t& byte) {
  if (hostIn_.empty()) return false;
  byte = hostIn_.front();
  hostIn_.pop_front();
  return true;
}

void H8s2215Chip::ScheduleService() {
  States next = std::min({sci_[0].NextEvent(), sci_[1].NextEvent(), sci_[2].NextEvent(),
                          wdt_.NextEvent(), bootRom_.NextEvent()});
  if (next == serviceAt_) return;
  if (serviceEvent_ != 0) scheduler_.Cancel(serviceEvent_);
  serviceEvent_ = 0;
  serviceAt_ = next;
  if (next == kNever) return;
  serviceEvent_ = scheduler_.At(next, [this] {
    serviceEvent_ = 0;
    serviceAt_ = kNever;
    Service();
  });
}

void H8s2215Chip::Service() {
  const States now = scheduler_.now();
  for (Sci& sci : sci_) sci.AdvanceTo(now);
  wdt_.AdvanceTo(now);
  if (wdt_.OverflowCount() != overflowsSeen_) {
    // Any overflow while SWE is set breaks the procedure, reset or not.
    overflowsSeen_ = wdt_.OverflowCount();
    flash_.WatchdogOverflow(now);
  }
  States at = 0;
  if (wdt_.TakeResetRequest(at)) WatchdogReset();
  bootRom_.Step(now);
  if (bootRom_.TakeStart()) StartProgram();
  Sci::Sent sent{};
  while (sci_[1].TakeSent(sent)) {
    bool framingError = false;
    const std::uint8_t byte = ReceiveFrame(sent.byte, sent.bitStates, hostBitStates_, framingError);
    if (framingError) ++hostFramingErrors_;
    hostIn_.push_back(byte);
    if (lineTrace_) lineTrace_(false, byte, sent.at);
    if (stopOnHostByte_ && cpuRunning_) cpu_.RequestStop("a byte reached the host");
  }
  while (sci_[0].TakeSent(sent) || sci_[2].TakeSent(sent)) {
  }  // nothing is connected to the other channels
  ScheduleService();
}

void H8s2215Chip::StartProgram() {
  cpu_.ClearStop();
  cpu_.set_pc(options_.loadAddress);
  cpu_.set_er(7, d::kInitialStackPointer);
  cpu_.set_ccr(interruptsOpenAtStart_ ? 0 : kCcrI);
  cpu_.set_exr(interruptsOpenAtStart_ ? 0 : kExrMask);
  cpuRunning_ = true;
  poll_.valid = false;
}

void H8s2215Chip::WatchdogReset() {
  ++watchdogResets_;
  resetPending_ = true;
  if (cpuRunning_) cpu_.RequestStop("watchdog reset");
}

void H8s2215Chip::UpdateFlashOverlay() {
  if (flash_.SweSet() && !overlayMapped_) {
    Region overlay;
    overlay.name = "flash-procedure";
    overlay.base = d::kFlashStart;
    overlay.size = d::kFlashSize;
    overlay.device = flashArray_.get();
    bus_.Map(overlay);
    overlayMapped_ = true;
  } else if (!flash_.SweSet() && overlayMapped_) {
    // Reads stay checked until the wait after SWE is cleared has passed.
    scheduler_.After(NsToStates(d::kWaitAfterSweClearNs, options_.clockHz), [this] {
      if (!flash_.SweSet() && overlayMapped_) {
        bus_.Unmap("flash-procedure");
        overlayMapped_ = false;
      }
    });
  }
}

void H8s2215Chip::NotePoll(bool receiverEmpty, std::uint8_t ssr) {
  const States now = scheduler_.now();
  if (!receiverEmpty || !cpuRunning_) {
    poll_.valid = false;
    return;
  }
  // The same read returning the same value: a loop that waits on a flag it
  // tests in memory (TEND, say) has nothing in a register that would show
  // the flag changed.
  bool same = poll_.valid && poll_.ssr == ssr && poll_.pc == cpu_.pc() && poll_.ccr == cpu_.ccr() &&
              registerAccesses_ == poll_.accesses + 1;
  for (int n = 0; same && n < 8; ++n) same = poll_.er[n] == cpu_.er(n);
  States at = now;
  if (same && now > poll_.at) {
    // The loop since the last read changed nothing but time: repeat it in
    // one step up to the next event.
    const States period = now - poll_.at;
    const States target = std::min(scheduler_.nextEventTime(), runLimit_);
    if (target > now + period) {
      const States skip = (target - now) / period * period;
      scheduler_.Advance(skip);
      skipped_ += skip;
      at += skip;
    }
  }
  poll_.valid = true;
  poll_.ssr = ssr;
  poll_.pc = cpu_.pc();
  poll_.ccr = cpu_.ccr();
  for (int n = 0; n < 8; ++n) poll_.er[n] = cpu_.er(n);
  poll_.at = at;
  poll_.accesses = registerAccesses_;
}

void H8s2215Chip::RunUntil(States until, bool stopOnHostByte) {
  stopOnHostByte_ = stopOnHostByte;
  while (scheduler_.now() < until) {
    if (stopOnHostByte && !hostIn_.empty()) break;
    if (resetPending_) {
      PowerOnBootMode();
      continue;
    }
    if (cpuRunning_) {
      runLimit_ = until;
      const States before = scheduler_.now();
      const std::uint64_t executed = cpu_.instructions();
      const StopReason reason = cpu_.Run(until);
      if (reason == StopReason::kNone && scheduler_.now() == before &&
          cpu_.instructions() == executed) {
        halted_ = true;
        haltMessage_ = "the core made no progress";
        cpuRunning_ = false;
        continue;
      }
      if (reason == StopReason::kRequested) {
        cpu_.ClearStop();
      } else if (reason != StopReason::kNone) {
        halted_ = true;
        haltMessage_ = cpu_.stopMessage();
        cpuRunning_ = false;
        cpu_.ClearStop();
      }
    } else {
      scheduler_.SkipToNextEvent(until);
      scheduler_.RunDue();
    }
  }
  if (resetPending_) PowerOnBootMode();
  stopOnHostByte_ = false;
}

void H8s2215Chip::RunForMicroseconds(double micros, bool stopOnHostByte) {
  RunUntil(scheduler_.now() + NsToStates(micros * 1000.0, options_.clockHz), stopOnHostByte);
}

}  // namespace vantor::board
