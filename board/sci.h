// One channel of the serial communication interface, asynchronous mode,
// 8 data bits, no parity, one stop bit: SMR, BRR, SCR, TDR, SSR, RDR.
//
// The flags behave as on the chip: TDRE, RDRF, ORER, FER and PER are cleared
// by reading SSR while the flag is 1 and then writing 0 to it; a byte that
// completes while RDRF (or an error flag) is still set is lost and sets
// ORER; TEND is set when the last byte has left and TDRE is 1. A byte on the
// line takes ten bit times; the bit time is 32 x (BRR + 1) x 4^CKS states.
// Bytes between two ends whose bit times differ are sampled at the
// receiver's bit time, so a wrong rate garbles data and sets FER.
//
// How far the two rates may differ: the SCI samples each bit at the 8th of
// 16 base-clock pulses, so its reception margin in asynchronous mode is
//   M = (0.5 - 1/(2N)) - (L - 0.5) F - |D - 0.5| / N x (1 + F)
// (H8S hardware manuals, SCI chapter, "Receive Data Sampling Timing and
// Reception Margin in Asynchronous Mode", formula (1); for example the
// H8S/2239 Group manual REJ09B0054, section 15.4.2), with N = 16 base clocks
// a bit, L = 10 bits a frame (start, 8 data, stop), clock duty D = 0.5 and F
// the rate deviation. The margin is gone (M = 0) at F = (0.5 - 1/32) / 9.5,
// 4.93 %. A PC's UART samples the same way, so the host's end uses the same
// limit. Within it a frame arrives as sent; beyond it the receiver sees a
// framing error and a byte that is not the one sent.
#pragma once

#include <cstdint>
#include <deque>

#include "board/emulated_time.h"

namespace vantor::board {

// What a receiver with bit time receiverBit makes of a frame sent with bit
// time senderBit (both in any one unit): the data bits it samples, and
// whether the stop bit it samples is 0 (a framing error).
std::uint8_t SampleFrame(std::uint8_t byte, double senderBit, double receiverBit,
                         bool& framingError);

// The largest rate deviation the receiver still reads correctly.
inline constexpr double kReceiveRateTolerance = (0.5 - 1.0 / 32.0) / 9.5;

// What a receiver makes of a frame under the margin above: the byte sent,
// or beyond the tolerance a framing error and a garbled byte (never the one
// sent).
std::uint8_t ReceiveFrame(std::uint8_t byte, double senderBit, double receiverBit,
                          bool& framingError);

class Sci {
 public:
  Sci() { Reset(); }

  // The state after a reset: SMR, BRR H'FF, SCR 0, SSR H'84.
  void Reset();

  // Register access by offset from the channel's base (0 SMR .. 5 RDR).
  std::uint8_t Read(unsigned offset, States now);
  void Write(unsigned offset, std::uint8_t value, States now);

  // A byte sent on the line with bit time senderBitStates has just completed
  // (its stop bit ended) at `now`.
  void LineByteArrived(std::uint8_t byte, double senderBitStates, States now);

  // Completes the transmissions due by `now`.
  void AdvanceTo(States now);
  // When the transmitter next finishes a byte; kNever when it is idle.
  States NextEvent() const { return txBusy_ ? txDoneAt_ : kNever; }

  // Bytes that have left on TxD, oldest first, with the time their stop bit
  // ended, and the bit time they were sent with.
  struct Sent {
    std::uint8_t byte;
    States at;
    double bitStates;
  };
  bool TakeSent(Sent& out);

  double BitStates() const;
  bool ReceiverEnabled() const { return (scr_ & 0x10) != 0; }
  bool TransmitterEnabled() const { return (scr_ & 0x20) != 0; }
  bool TransmitterIdle() const { return !txBusy_; }
  std::uint8_t Ssr() const { return ssr_; }
  unsigned OverrunCount() const { return overruns_; }
  unsigned FramingErrorCount() const { return framingErrors_; }
  // Writes to SMR or BRR while TE or RE was set. The SCI chapter has TE and
  // RE cleared before the mode or the bit rate changes; a program that
  // changes them on a running channel breaks that rule.
  unsigned SettingChangesWhileRunning() const { return settingChangesWhileRunning_; }

 private:
  void StartTransmitIfReady(States now);

  std::uint8_t smr_ = 0, brr_ = 0xFF, scr_ = 0, tdr_ = 0xFF, ssr_ = 0x84, rdr_ = 0;
  std::uint8_t readAsOne_ = 0;  // flags read as 1 since they were last set
  bool txBusy_ = false;
  std::uint8_t txShift_ = 0;
  States txDoneAt_ = 0;
  double txBitStates_ = 0;
  std::deque<Sent> sent_;
  unsigned overruns_ = 0, framingErrors_ = 0, settingChangesWhileRunning_ = 0;
};

}  // namespace vantor::board
