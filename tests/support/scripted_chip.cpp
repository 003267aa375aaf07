#include "tests/support/scripted_chip.h"

#include <cstdio>

namespace vantor::testing {
namespace {

constexpr std::uint8_t kId[7] = {0x5E, 0x17, 0xA9, 0x3B, 0xD4, 0x62, 0x8F};
constexpr std::size_t kBlock = 128;
constexpr std::size_t kFlashSize = 0x40000;

std::string Hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

}  // namespace

ScriptedChip::ScriptedChip(FakeTransport& line, const Options& options)
    : flash(kFlashSize, 0xFF), options_(options) {
  if (options_.programRunning) phase_ = Phase::kCommands;
  line.SetScript([this](std::uint8_t sent, FakeTransport& far) { OnByte(sent, far); });
}

void ScriptedChip::Fail(const std::string& what) {
  if (protocolError.empty()) protocolError = what;
}

void ScriptedChip::OnByte(std::uint8_t sent, FakeTransport& line) {
  switch (phase_) {
    case Phase::kBitRate:
      if (sent != 0x00) return Fail("bit-rate adjustment: " + Hex(sent));
      if (bitRateBytes++ == options_.bitRateSilentAttempts) {
        line.Queue(0x00);
        phase_ = Phase::kHandshake;
      }
      return;
    case Phase::kHandshake:
      if (sent != 0x55) return Fail("handshake: " + Hex(sent));
      line.Queue(0xAA);
      phase_ = Phase::kLengthHigh;
      return;
    case Phase::kLengthHigh:
      line.Queue(sent);
      announcedLength = static_cast<unsigned>(sent) << 8;
      phase_ = Phase::kLengthLow;
      return;
    case Phase::kLengthLow:
      line.Queue(sent);
      announcedLength |= sent;
      phase_ = announcedLength == 0 ? Phase::kCommands : Phase::kProgram;
      return;
    case Phase::kProgram:
      line.Queue(sent);
      program.push_back(sent);
      if (program.size() == announcedLength) {
        line.Queue(0xAA, options_.eraseSilentReads);
        phase_ = Phase::kCommands;
      }
      return;
    case Phase::kCommands:
      return OnCommandByte(sent, line);
  }
}

void ScriptedChip::OnCommandByte(std::uint8_t sent, FakeTransport& line) {
  command_.push_back(sent);
  const std::vector<std::uint8_t>& c = command_;
  switch (c[0]) {
    case 0xC0:
      idQueried = true;
      line.Queue(std::vector<std::uint8_t>(std::begin(kId), std::end(kId)));
      line.Queue(0x80);
      break;
    case 0xC1:
      if (c.size() < 2) return;
      if (c[1] != 0x03) {
        Fail("write mode operand " + Hex(c[1]));
        line.Queue(0x81);
      } else {
        writeMode = true;
        line.Queue(0x80);
      }
      break;
    case 0xC5:
      clockQueried = true;
      line.Queue({options_.clockReply[0], options_.clockReply[1], options_.clockReply[2],
                  options_.clockReply[3], options_.clockReply[4]});
      break;
    case 0xCA:
      if (c.size() < 6) return;
      parameterWrites.push_back({c[1], c[2], c[3], c[4], c[5]});
      break;
    case 0xC3:
    case 0xC7: {
      const std::size_t header = c[0] == 0xC3 ? 5 : 1;
      if (c.size() < header + kBlock + 1) return;
      std::uint32_t address = nextBlock_;
      if (c[0] == 0xC3) {
        address = (std::uint32_t{c[1]} << 24) | (std::uint32_t{c[2]} << 16) |
                  (std::uint32_t{c[3]} << 8) | c[4];
      }
      std::uint8_t sum = 0;
      for (std::size_t i = 0; i < kBlock; ++i) sum = static_cast<std::uint8_t>(sum + c[header + i]);
      if (sum != c[header + kBlock]) {
        Fail("block checksum at " + std::to_string(address));
        line.Queue(0x93);
      } else if (!writeMode || address % kBlock != 0 || address >= kFlashSize) {
        Fail("block at " + std::to_string(address) + (writeMode ? "" : " before write mode"));
        line.Queue(0x92);
      } else {
        for (std::size_t i = 0; i < kBlock; ++i) flash[address + i] = c[header + i];
        blockAddresses.push_back(address);
        nextBlock_ = address + kBlock;
        line.Queue(options_.blockReply);
      }
      break;
    }
    default:
      Fail("command " + Hex(c[0]));
      break;
  }
  command_.clear();
}

}  // namespace vantor::testing
