// A well-behaved chip on the far end of a fake line: its serial boot mode
// (bit-rate adjustment, 0x55/0xAA, the echoed length and program, 0xAA once
// the flash is erased) and then the write-control program's commands (0xC0,
// 0xC1 0x03, 0xC5, 0xCA, 0xC3, 0xC7). It records what it was given, so a test
// can check what reached the chip; faults are injected through the fake line
// itself (FailSend, FailRead, Queue) or through the options below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/fake_transport.h"

namespace vantor::testing {

class ScriptedChip {
 public:
  struct Options {
    unsigned bitRateSilentAttempts = 0;  // 0x00 bytes the chip lets pass unanswered
    unsigned eraseSilentReads = 0;       // reads that find nothing before the 0xAA
    std::uint8_t clockReply[5] = {64, 0, 0x00, 32, 0x80};  // m, k, F high, F low, completion
    std::uint8_t blockReply = 0x06;                        // answer to a good block
    bool programRunning = false;  // skip boot mode: the program already runs
  };

  struct ParameterWrite {
    std::uint8_t d0, d1, d2, d3, value;
    bool operator==(const ParameterWrite&) const = default;
  };

  explicit ScriptedChip(FakeTransport& line) : ScriptedChip(line, Options{}) {}
  ScriptedChip(FakeTransport& line, const Options& options);
  ScriptedChip(const ScriptedChip&) = delete;
  ScriptedChip& operator=(const ScriptedChip&) = delete;

  // What reached the chip.
  unsigned bitRateBytes = 0;          // 0x00 bytes of the bit-rate adjustment
  unsigned announcedLength = 0;       // the program length it was told
  std::vector<std::uint8_t> program;  // the program bytes, as received
  bool idQueried = false;
  bool writeMode = false;
  bool clockQueried = false;
  std::vector<ParameterWrite> parameterWrites;
  std::vector<std::uint32_t> blockAddresses;  // where each block was written
  std::vector<std::uint8_t> flash;            // 256 KiB, 0xFF until written
  std::string protocolError;                  // the first thing it did not expect

 private:
  enum class Phase { kBitRate, kHandshake, kLengthHigh, kLengthLow, kProgram, kCommands };

  void OnByte(std::uint8_t sent, FakeTransport& line);
  void OnCommandByte(std::uint8_t sent, FakeTransport& line);
  void Fail(const std::string& what);

  Options options_;
  Phase phase_ = Phase::kBitRate;
  std::vector<std::uint8_t> command_;  // the command being received
  std::uint32_t nextBlock_ = 0x80;     // where a 0xC7 block goes
};

}  // namespace vantor::testing
