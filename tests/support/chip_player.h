// The chip's side of the protocol, independent of the line: its serial boot
// mode (bit-rate answer, 0x55/0xAA, echoes of the length and of every program
// byte, 0xAA once "erased") and then a correct write-control program (0xC0
// identification, 0xC5 clock inquiry, 0xCA parameter writes, 0xC1 0x03 write
// mode, 0xC3/0xC7 blocks with checksum check, 0xCC CRC-32 of a flash range,
// 0xCB bit-rate switch with its probe, 0xCB with the block stream's loader
// and then the block stream: blocks asked for with 0x11 and answered with
// 0x06, ended by 0xCD with the flash's CRC-32 or by 0xCE).
//
// Every byte the host sends goes to OnByte, every answer leaves through the
// output callback. ScriptedTarget serves it on a pseudo-terminal;
// ConnectChip (tests/support/chip_on_fake_line.h) puts it on the far end of
// the in-memory fake line.
//
// It records what it was given (the program, the parameter writes, the
// blocks in an image of the flash), so a test can check what reached the
// chip. Options shape a well-behaved chip (how many bit-rate bytes it needs,
// how long the erase takes, its clock); a fault switch makes it misbehave at
// one point, so that every failure the host must report can be provoked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vantor::testing {

class ChipPlayer {
 public:
  enum class Fault {
    kNone,
    kBitRateSilent,         // never answers the 0x00 bytes
    kBitRateWrongAnswer,    // answers the first 0x00 with 0x11
    kHandshakeSilent,       // no 0xAA after 0x55
    kHandshakeWrong,        // 0xA5 after 0x55
    kLengthSilent,          // never echoes the length's high byte
    kLengthWrongEcho,       // echoes the length's high byte wrongly
    kLengthLowWrongEcho,    // echoes the length's low byte wrongly
    kProgramWrongEcho,      // echoes program byte number `faultIndex` wrongly
    kProgramSilent,         // stops echoing at program byte number `faultIndex`
    kEraseSilent,           // never reports the erase
    kEraseWrong,            // reports the erase with 0xFF (failed)
    kIdWrong,               // the first identification byte is wrong
    kIdSilent,              // sends three identification bytes, then nothing
    kIdCompletionWrong,     // 0x81 after the identification bytes
    kClockCompletionWrong,  // 0x00 as the fifth byte of the clock reply
    kWriteModeRefused,      // 0x81 in answer to 0xC1 0x03
    kBlockChecksum,         // block number `faultIndex` answered 0x93 (in the stream: in
                            // place of its 0x11)
    kBlockBadParameter,     // block number `faultIndex` answered 0x92
    kBlockProgramFailed,    // block number `faultIndex` answered 0xB1 0xD5 (in the stream:
                            // after its 0x11, in place of its 0x06)
    kBlockSilent,           // block number `faultIndex` never answered
    kBlockRefusalGarbled,   // block number `faultIndex` refused (not stored), its 0x93
                            // reaching the host as 0x13, which reads as success
    kCrcWrong,              // answers 0xCC (the stream's 0xCD) with a CRC one bit off
    kCrcSilent,             // never answers 0xCC (0xCD)
    kCrcEndWrong,           // ends the 0xCC (0xCD) answer with 0x07 instead of 0x06
    kStreamCodeDamaged,     // takes the block stream's code as damaged: 0x93
    kSwitchRefused,         // answers 0xCB with 0x92 and stays at its rate
    kSwitchNoProbe,         // takes no probe: back at the old rate, nothing sent
  };

  struct Options {
    unsigned bitRateSilentAttempts = 0;  // 0x00 bytes it lets pass before answering one
    unsigned eraseMs = 0;                // the erase takes this long before its 0xAA
    // The clock reply to 0xC5: m, k, F high, F low, completion. BRR 64 and
    // clock select 0 at 9600 bit/s make a 19.968 MHz board.
    std::uint8_t clockReply[5] = {64, 0, 0x00, 32, 0x80};
    bool programRunning = false;  // starts in the program's command loop, not boot mode
  };

  // One block as it arrived.
  struct Block {
    std::uint8_t command;   // 0xC3 or 0xC7
    std::uint32_t address;  // where it was placed
  };

  // One 0xCA command: the destination d0..d3 and the value.
  struct ParameterWrite {
    std::uint8_t d0, d1, d2, d3, value;
    bool operator==(const ParameterWrite&) const = default;
  };

  // `delayMs`: how long the chip takes before the first of the bytes leaves.
  using Output =
      std::function<void(const std::uint8_t* bytes, std::size_t count, unsigned delayMs)>;

  ChipPlayer();
  explicit ChipPlayer(const Options& options);

  void SetOutput(Output output) { output_ = std::move(output); }

  // The line as the chip sees it: the host's bit rate now, and the time in
  // milliseconds. Without them the host counts as always at the chip's rate.
  // A byte between the two ends whose rates differ by more than the SCI's
  // receive margin is garbled both ways (the chip notes a receive error).
  using HostRate = std::function<std::uint32_t()>;
  using Clock = std::function<std::uint64_t()>;
  void SetLine(HostRate hostRate, Clock clock) {
    hostRate_ = std::move(hostRate);
    clock_ = std::move(clock);
  }

  void SetFault(Fault fault, std::size_t faultIndex = 0) {
    fault_ = fault;
    faultIndex_ = faultIndex;
  }

  // Power on: back to boot mode, waiting for the bit-rate bytes. The image
  // and the record of blocks and commands are kept.
  void PowerOn();

  // Takes one byte from the host.
  void OnByte(std::uint8_t byte);

  // --- what the chip saw (safe to call from another thread) -------------
  // The flash, 0x40000 bytes, 0xFF where nothing came.
  std::vector<std::uint8_t> Image() const { return Copy(image_); }
  std::vector<Block> Blocks() const { return Copy(blocks_); }
  std::vector<std::uint32_t> BlockAddresses() const;  // of Blocks(), in order
  std::size_t BlocksReceived() const;
  // This session's boot mode: the 0x00 bytes of the bit-rate adjustment,
  // the program length it was told, and the program bytes as received.
  unsigned BitRateBytes() const { return Copy(bitRateBytes_); }
  unsigned AnnouncedLength() const { return Copy(programLength_); }
  std::vector<std::uint8_t> Program() const { return Copy(program_); }
  std::size_t ProgramBytes() const;
  // The 0xCA commands; the other command bytes, in order.
  std::vector<ParameterWrite> ParameterWrites() const { return Copy(parameterWrites_); }
  std::vector<std::uint8_t> Commands() const { return Copy(commands_); }
  bool Received(std::uint8_t command) const;  // the command came at least once
  bool WriteModeEntered() const { return Copy(writeMode_); }
  // Whether the block stream was loaded and started, and the blocks it took.
  bool StreamStarted() const { return Copy(streamStarted_); }
  std::size_t StreamBlocks() const { return Copy(streamBlocks_); }
  // The chip's bit rate now, and the rate switches it completed (0xCB with
  // the probe answered).
  double ChipRate() const { return Copy(rate_); }
  unsigned RateSwitches() const { return Copy(rateSwitches_); }
  // Bytes that crossed the line garbled, either way.
  unsigned GarbledBytes() const { return Copy(garbled_); }
  // The first thing it did not expect, empty if none.
  std::string ProtocolError() const { return Copy(protocolError_); }

 private:
  enum class State {
    kBitRate,
    kHandshake,
    kLengthHigh,
    kLengthLow,
    kProgram,
    kCommand,
    kProbe,
    kStreamCode,  // the block stream's code after its loader
    kStream,      // the block stream's frames
  };

  void OnCommandByte(std::uint8_t byte);
  void StartRateSwitch();
  void OnProbe(std::uint8_t byte, bool garbled);
  bool RatesDiffer() const;
  std::vector<std::uint8_t> FinishBlock();
  void OnStreamCode(std::uint8_t byte);
  void OnStreamByte(std::uint8_t byte);
  void SendCrc(std::uint32_t start, std::uint32_t count);
  void Send(std::initializer_list<std::uint8_t> bytes, unsigned delayMs = 0);
  void SendBytes(const std::uint8_t* bytes, std::size_t count, unsigned delayMs = 0);
  void Unexpected(const std::string& what);

  template <typename T>
  T Copy(const T& record) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record;
  }

  Output output_;
  Options options_;
  Fault fault_ = Fault::kNone;
  std::size_t faultIndex_ = 0;

  // Protocol state: touched by the thread that feeds the bytes only.
  State state_ = State::kBitRate;
  bool silent_ = false;                // a silence fault has struck: nothing more is sent
  std::vector<std::uint8_t> command_;  // the command being assembled
  std::uint32_t previousBlock_ = 0;
  HostRate hostRate_;
  Clock clock_;
  double oldRate_ = 0.0;                  // the rate to go back to while a probe is awaited
  std::uint64_t switchedAt_ = 0;          // when the 0x06 of the switch left
  bool lineError_ = false;                // a garbled byte came in the command being assembled
  std::vector<std::uint8_t> streamCode_;  // the stream's code (and sum) as it came

  mutable std::mutex mutex_;  // guards what the test reads
  unsigned bitRateBytes_ = 0;
  std::uint16_t programLength_ = 0;  // written under the lock, read freely by the feeder
  std::vector<std::uint8_t> program_;
  std::vector<std::uint8_t> image_;
  std::vector<Block> blocks_;
  std::vector<ParameterWrite> parameterWrites_;
  std::vector<std::uint8_t> commands_;
  bool writeMode_ = false;
  double rate_ = 9600.0;
  unsigned rateSwitches_ = 0;
  unsigned garbled_ = 0;
  bool streamStarted_ = false;
  std::size_t streamBlocks_ = 0;
  std::string protocolError_;
};

}  // namespace vantor::testing
