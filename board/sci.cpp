#include "board/sci.h"

#include <cmath>

#include "board/h8s2215_device.h"

namespace vantor::board {
namespace {

namespace d = device;

// Flags software clears by reading 1 and writing 0.
constexpr std::uint8_t kClearable =
    d::kSsrTdre | d::kSsrRdrf | d::kSsrOrer | d::kSsrFer | d::kSsrPer;

}  // namespace

std::uint8_t SampleFrame(std::uint8_t byte, double senderBit, double receiverBit,
                         bool& framingError) {
  // Frame bits: start (0), d0..d7, stop (1), then an idle line (1).
  auto level = [&](double t) {
    const auto index = static_cast<long>(std::floor(t / senderBit));
    if (index <= 0) return 0;
    if (index >= 9) return 1;
    return (byte >> (index - 1)) & 1;
  };
  std::uint8_t out = 0;
  for (int bit = 0; bit < 8; ++bit) {
    out = static_cast<std::uint8_t>(out | (level((bit + 1.5) * receiverBit) << bit));
  }
  framingError = level(9.5 * receiverBit) == 0;
  return out;
}

std::uint8_t ReceiveFrame(std::uint8_t byte, double senderBit, double receiverBit,
                          bool& framingError) {
  const double deviation = std::fabs(senderBit - receiverBit) / receiverBit;
  if (deviation <= kReceiveRateTolerance) {
    framingError = false;
    return byte;
  }
  bool sampledError = false;
  std::uint8_t sampled = SampleFrame(byte, senderBit, receiverBit, sampledError);
  // Bits sampled at the wrong places: take what the sampling gives, but a
  // garbled frame never passes for the byte sent.
  if (sampled == byte) sampled = static_cast<std::uint8_t>(byte ^ 0x80);
  framingError = true;
  return sampled;
}

void Sci::Reset() {
  smr_ = 0;
  brr_ = 0xFF;
  scr_ = 0;
  tdr_ = 0xFF;
  ssr_ = d::kSsrTdre | d::kSsrTend;
  rdr_ = 0;
  readAsOne_ = 0;
  txBusy_ = false;
  sent_.clear();
}

double Sci::BitStates() const {
  return 32.0 * (brr_ + 1.0) * static_cast<double>(1u << (2 * (smr_ & d::kSmrCksMask)));
}

std::uint8_t Sci::Read(unsigned offset, States now) {
  AdvanceTo(now);
  switch (offset) {
    case d::kSciSmr:
      return smr_;
    case d::kSciBrr:
      return brr_;
    case d::kSciScr:
      return scr_;
    case d::kSciTdr:
      return tdr_;
    case d::kSciSsr:
      readAsOne_ |= ssr_ & kClearable;
      return ssr_;
    case d::kSciRdr:
      return rdr_;
    default:
      return 0xFF;
  }
}

void Sci::Write(unsigned offset, std::uint8_t value, States now) {
  AdvanceTo(now);
  switch (offset) {
    case d::kSciSmr:
    case d::kSciBrr:
      if ((scr_ & (d::kScrTe | d::kScrRe)) != 0) ++settingChangesWhileRunning_;
      (offset == d::kSciSmr ? smr_ : brr_) = value;
      break;
    case d::kSciScr: {
      const bool wasTe = TransmitterEnabled();
      scr_ = value;
      if (wasTe && !TransmitterEnabled()) {
        // Switching the transmitter off abandons the byte being sent.
        txBusy_ = false;
        ssr_ |= d::kSsrTdre | d::kSsrTend;
      }
      break;
    }
    case d::kSciTdr:
      tdr_ = value;
      break;
    case d::kSciSsr: {
      // A flag clears only when written 0 after it was read as 1; writing 1
      // leaves it. TEND and MPB are read-only; MPBT is written as it comes.
      const std::uint8_t clear = static_cast<std::uint8_t>(~value & readAsOne_ & kClearable);
      ssr_ = static_cast<std::uint8_t>((ssr_ & ~clear & ~d::kSsrMpbt) | (value & d::kSsrMpbt));
      readAsOne_ &= static_cast<std::uint8_t>(~clear);
      if (clear & d::kSsrTdre) ssr_ &= static_cast<std::uint8_t>(~d::kSsrTend);
      break;
    }
    default:
      break;  // RDR is read-only
  }
  StartTransmitIfReady(now);
}

void Sci::StartTransmitIfReady(States now) {
  if (txBusy_ || !TransmitterEnabled() || (ssr_ & d::kSsrTdre) != 0) return;
  txBusy_ = true;
  txShift_ = tdr_;
  txBitStates_ = BitStates();
  txDoneAt_ = now + static_cast<States>(std::llround(10.0 * txBitStates_));
  ssr_ |= d::kSsrTdre;
  ssr_ &= static_cast<std::uint8_t>(~d::kSsrTend);
  readAsOne_ &= static_cast<std::uint8_t>(~d::kSsrTdre);
}

void Sci::AdvanceTo(States now) {
  while (txBusy_ && txDoneAt_ <= now) {
    sent_.push_back({txShift_, txDoneAt_, txBitStates_});
    txBusy_ = false;
    if ((ssr_ & d::kSsrTdre) == 0) {
      StartTransmitIfReady(txDoneAt_);  // the next byte follows at once
    } else {
      ssr_ |= d::kSsrTend;
    }
  }
}

bool Sci::TakeSent(Sent& out) {
  if (sent_.empty()) return false;
  out = sent_.front();
  sent_.pop_front();
  return true;
}

void Sci::LineByteArrived(std::uint8_t byte, double senderBitStates, States now) {
  AdvanceTo(now);
  if (!ReceiverEnabled()) return;  // the receiver is off: the byte goes nowhere
  if ((ssr_ & (d::kSsrRdrf | d::kSsrOrer | d::kSsrFer | d::kSsrPer)) != 0) {
    // Reception stops while a byte is unread or an error flag is set.
    if ((ssr_ & d::kSsrOrer) == 0) ++overruns_;
    ssr_ |= d::kSsrOrer;
    readAsOne_ &= static_cast<std::uint8_t>(~d::kSsrOrer);
    return;
  }
  bool framingError = false;
  rdr_ = ReceiveFrame(byte, senderBitStates, BitStates(), framingError);
  if (framingError) {
    ++framingErrors_;
    ssr_ |= d::kSsrFer;
    readAsOne_ &= static_cast<std::uint8_t>(~d::kSsrFer);
  } else {
    ssr_ |= d::kSsrRdrf;
    readAsOne_ &= static_cast<std::uint8_t>(~d::kSsrRdrf);
  }
}

}  // namespace vantor::board
