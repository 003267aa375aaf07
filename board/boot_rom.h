// The boot ROM's serial boot mode, written natively: the chip's own boot
// program is not ours, so the board behaves as it does on the line.
//
// At power-on in boot mode it watches the receive pin for the host's H'00
// bytes, measures their bit time, sets SMR's clock select and BRR (the
// smallest clock select whose BRR fits) and answers H'00 through the SCI;
// answers H'55 with H'AA; echoes the two length bytes (or answers H'FF for a
// program that does not fit between the load address and the stack reserve
// at the top of the RAM, and stops); echoes each program byte and stores it
// in RAM from the load address on; erases the flash when it is not blank
// (taking the configured emulated time), checks it blank and sends H'AA
// (H'FF when it is not, and stops); then hands the CPU over to the program.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "board/emulated_time.h"
#include "board/flash_controller.h"
#include "board/sci.h"

namespace vantor::board {

// BRR and the clock select for a bit time of bitStates states: the smallest
// clock select whose BRR fits in 0..255. False when none does, or when the
// nearest rate is more than 4 % off.
bool ChooseBitRate(double bitStates, std::uint8_t& cks, std::uint8_t& brr);

class BootRom {
 public:
  struct Config {
    std::uint32_t loadAddress;
    std::uint32_t eraseMicroseconds;
  };
  using StoreFn = std::function<void(std::uint32_t address, std::uint8_t value)>;

  BootRom(Sci& sci, FlashController& flash, StoreFn store);

  void Configure(const Config& config) { config_ = config; }
  const Config& GetConfig() const { return config_; }
  void SetClock(std::uint32_t clockHz) { clockHz_ = clockHz; }

  // Power-on in boot mode: back to the bit-rate adjustment.
  void PowerOn();

  // A byte on the receive pin completed at `now`, sent with the given bit
  // time (the bit-rate measurement watches the pin itself).
  void OnLineByte(std::uint8_t byte, double senderBitStates, States now);
  // Lets the boot ROM serve the SCI and its timers at `now`.
  void Step(States now);
  // When it next needs Step without a byte arriving; kNever if never.
  States NextEvent() const;

  enum class Phase {
    kBitRate,
    kHandshake,
    kLengthHigh,
    kLengthLow,
    kProgram,
    kErase,
    kDone,
    kStopped
  };
  Phase CurrentPhase() const { return phase_; }
  // True once, when the program is loaded and the flash blank: the CPU
  // starts at the load address.
  bool TakeStart() {
    const bool start = startPending_;
    startPending_ = false;
    return start;
  }
  std::uint16_t ProgramLength() const { return length_; }

 private:
  void Handle(std::uint8_t byte, States now);
  void Send(std::uint8_t byte) { out_.push_back(byte); }
  void SendPending(States now);

  Sci& sci_;
  FlashController& flash_;
  StoreFn store_;
  Config config_;
  std::uint32_t clockHz_;
  Phase phase_ = Phase::kBitRate;
  std::uint16_t length_ = 0, received_ = 0;
  States eraseDoneAt_ = kNever;
  std::deque<std::uint8_t> out_;
  bool startPending_ = false;
  bool started_ = false;
};

}  // namespace vantor::board
