// A stand-in for the chip on the far end of a pseudo-terminal: it plays the
// boot ROM (bit-rate answer, 0x55/0xAA, echoes of the length and of every
// program byte, 0xAA once "erased") and then a correct write-control program
// (0xC0 identification, 0xC5 clock inquiry, 0xCA parameter writes, 0xC1 0x03
// write mode, 0xC3/0xC7 blocks with checksum check). The blocks it receives
// are recorded in an image of the flash, so a test can compare what arrived
// with what was loaded.
//
// The target runs in its own thread on the master side; the program under
// test opens SlavePath() with its real serial code. Each time the host closes
// the slave the target goes back to boot mode, as a board does when it is
// switched off and on again.
//
// A fault switch makes the target misbehave at one point, so that every
// failure the host must report can be provoked.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantor::testing {

// The chip's side of the protocol, independent of the line: every byte the
// host sends goes to OnByte, every answer leaves through the output callback.
// Used over a pseudo-terminal by ScriptedTarget and over the in-memory fake
// line by the driver tests.
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
    kBlockChecksum,         // block number `faultIndex` answered 0x93
    kBlockBadParameter,     // block number `faultIndex` answered 0x92
    kBlockProgramFailed,    // block number `faultIndex` answered 0xB1 0xD5
    kBlockSilent,           // block number `faultIndex` never answered
  };

  // One block as it arrived.
  struct Block {
    std::uint8_t command;   // 0xC3 or 0xC7
    std::uint32_t address;  // where it was placed
  };

  using Output = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

  explicit ChipPlayer(Output output);

  void SetFault(Fault fault, std::size_t faultIndex = 0) {
    fault_ = fault;
    faultIndex_ = faultIndex;
  }

  // Power on: back to boot mode, waiting for the bit-rate bytes. The image
  // and the record of blocks are kept.
  void PowerOn();

  // Takes one byte from the host.
  void OnByte(std::uint8_t byte);

  // --- what the chip saw (safe to call from another thread) -------------
  std::vector<std::uint8_t> Image() const;  // 0x40000 bytes, 0xFF where nothing came
  std::vector<Block> Blocks() const;
  std::size_t BlocksReceived() const;
  std::size_t ProgramBytes() const;            // program bytes echoed in this session
  std::size_t ParameterWrites() const;         // 0xCA commands taken
  std::vector<std::uint8_t> Commands() const;  // command bytes, in order, 0xCA left out
  bool WriteModeEntered() const;

 private:
  enum class State { kBitRate, kHandshake, kLengthHigh, kLengthLow, kProgram, kCommand };

  void OnCommandByte(std::uint8_t byte);
  void FinishBlock();
  void Send(std::initializer_list<std::uint8_t> bytes);
  void SendBytes(const std::uint8_t* bytes, std::size_t count);

  Output output_;
  Fault fault_ = Fault::kNone;
  std::size_t faultIndex_ = 0;

  // Protocol state: touched by the thread that feeds the bytes only.
  State state_ = State::kBitRate;
  std::uint16_t programLength_ = 0;
  bool silent_ = false;                // a silence fault has struck: nothing more is sent
  std::vector<std::uint8_t> command_;  // the command being assembled
  std::uint32_t previousBlock_ = 0;

  mutable std::mutex mutex_;  // guards what the test reads
  std::size_t programReceived_ = 0;
  std::vector<std::uint8_t> image_;
  std::vector<Block> blocks_;
  std::size_t parameterWrites_ = 0;
  std::vector<std::uint8_t> commands_;
  bool writeMode_ = false;
};

#if !defined(_WIN32)
// A ChipPlayer on the master side of a new pseudo-terminal, served by its
// own thread. Each time the host opens the slave after it was closed the chip
// is powered on again.
class ScriptedTarget {
 public:
  // Opens the master; aborts the test binary when the system has no
  // pseudo-terminals.
  ScriptedTarget();
  ~ScriptedTarget();
  ScriptedTarget(const ScriptedTarget&) = delete;
  ScriptedTarget& operator=(const ScriptedTarget&) = delete;

  // The device the host opens, e.g. "/dev/pts/7".
  const std::string& SlavePath() const { return slavePath_; }

  ChipPlayer& Chip() { return chip_; }
  const ChipPlayer& Chip() const { return chip_; }

  void Start();
  void Stop();

  std::size_t Sessions() const;  // times the host opened the slave
  bool HostConnected() const;    // the slave is open right now

  // Waits up to `timeoutMs` real milliseconds.
  bool WaitForBlocks(std::size_t count, unsigned timeoutMs) const;
  bool WaitForHangUp(unsigned timeoutMs) const;

 private:
  void Run();
  void Write(const std::uint8_t* bytes, std::size_t count);

  int master_ = -1;
  std::string slavePath_;
  ChipPlayer chip_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::size_t sessions_ = 0;
  bool connected_ = false;
};
#endif  // !_WIN32

}  // namespace vantor::testing
