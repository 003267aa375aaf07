#include "board/boot_rom.h"

#include <cmath>

#include "board/h8s2215_device.h"

namespace vantor::board {

namespace d = device;

bool ChooseBitRate(double bitStates, std::uint8_t& cks, std::uint8_t& brr) {
  for (unsigned n = 0; n < 4; ++n) {
    const double perCount = 32.0 * static_cast<double>(1u << (2 * n));
    const long counts = std::lround(bitStates / perCount);
    if (counts < 1 || counts > 256) continue;
    const double error = std::fabs(counts * perCount - bitStates) / bitStates;
    if (error > 0.04) return false;
    cks = static_cast<std::uint8_t>(n);
    brr = static_cast<std::uint8_t>(counts - 1);
    return true;
  }
  return false;
}

BootRom::BootRom(Sci& sci, FlashController& flash, StoreFn store)
    : sci_(sci),
      flash_(flash),
      store_(std::move(store)),
      config_{d::kDefaultLoadAddress, d::kDefaultEraseMicroseconds},
      clockHz_(d::kDefaultClockHz) {}

void BootRom::PowerOn() {
  phase_ = Phase::kBitRate;
  length_ = received_ = 0;
  eraseDoneAt_ = kNever;
  out_.clear();
  startPending_ = false;
  started_ = false;
}

void BootRom::OnLineByte(std::uint8_t byte, double senderBitStates, States now) {
  if (phase_ != Phase::kBitRate || byte != 0x00) return;
  std::uint8_t cks = 0, brr = 0;
  if (!ChooseBitRate(senderBitStates, cks, brr)) return;  // no rate fits: keep listening
  const auto smr = static_cast<std::uint8_t>(cks);
  sci_.Write(d::kSciScr, 0, now);
  sci_.Write(d::kSciSmr, smr, now);
  sci_.Write(d::kSciBrr, brr, now);
  sci_.Write(d::kSciScr, d::kScrTe | d::kScrRe, now);
  phase_ = Phase::kHandshake;
  Send(0x00);
  Step(now);
}

States BootRom::NextEvent() const {
  if (!out_.empty()) return sci_.NextEvent();
  if (phase_ == Phase::kErase) return eraseDoneAt_;
  return kNever;
}

void BootRom::Step(States now) {
  if (phase_ == Phase::kBitRate) return;
  if (phase_ == Phase::kDone || phase_ == Phase::kStopped) {
    SendPending(now);
    return;
  }
  const std::uint8_t ssr = sci_.Read(d::kSciSsr, now);
  if (ssr & (d::kSsrOrer | d::kSsrFer | d::kSsrPer)) {
    // A damaged byte: clear the error and listen on.
    sci_.Write(d::kSciSsr, static_cast<std::uint8_t>(~(d::kSsrOrer | d::kSsrFer | d::kSsrPer)),
               now);
  } else if (ssr & d::kSsrRdrf) {
    const std::uint8_t byte = sci_.Read(d::kSciRdr, now);
    sci_.Write(d::kSciSsr, static_cast<std::uint8_t>(~d::kSsrRdrf), now);
    Handle(byte, now);
  }
  if (phase_ == Phase::kErase && now >= eraseDoneAt_) {
    const bool blank = flash_.EraseAll();
    Send(blank ? 0xAA : d::kBootRefusal);
    phase_ = blank ? Phase::kDone : Phase::kStopped;
  }
  SendPending(now);
}

void BootRom::SendPending(States now) {
  while (!out_.empty() && (sci_.Read(d::kSciSsr, now) & d::kSsrTdre)) {
    sci_.Write(d::kSciTdr, out_.front(), now);
    sci_.Write(d::kSciSsr, static_cast<std::uint8_t>(~d::kSsrTdre), now);
    out_.pop_front();
  }
  if (phase_ == Phase::kDone && out_.empty() && !started_) {
    // The last byte is on its way: the program runs from its first byte.
    started_ = true;
    startPending_ = true;
  }
}

void BootRom::Handle(std::uint8_t byte, States now) {
  switch (phase_) {
    case Phase::kHandshake:
      if (byte == 0x55) {
        Send(0xAA);
        phase_ = Phase::kLengthHigh;
      }
      break;  // stray H'00 bytes of the adjustment are ignored
    case Phase::kLengthHigh:
      length_ = static_cast<std::uint16_t>(byte << 8);
      Send(byte);
      phase_ = Phase::kLengthLow;
      break;
    case Phase::kLengthLow: {
      length_ = static_cast<std::uint16_t>(length_ | byte);
      const std::uint32_t limit = d::kRamEnd - d::kStackReserve;
      const bool fits = length_ > 0 && config_.loadAddress >= d::kRamStart &&
                        config_.loadAddress + length_ <= limit;
      if (!fits) {
        Send(d::kBootRefusal);
        phase_ = Phase::kStopped;
        break;
      }
      Send(byte);
      phase_ = Phase::kProgram;
      break;
    }
    case Phase::kProgram:
      store_(config_.loadAddress + received_, byte);
      Send(byte);
      if (++received_ == length_) {
        phase_ = Phase::kErase;
        const States eraseStates =
            flash_.IsBlank() ? 0 : NsToStates(config_.eraseMicroseconds * 1000.0, clockHz_);
        eraseDoneAt_ = now + eraseStates;
      }
      break;
    default:
      break;  // after the program has started the boot ROM hears nothing
  }
}

}  // namespace vantor::board
