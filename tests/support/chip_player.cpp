#include "tests/support/chip_player.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "link/descrambler.h"
#include "link/embedded_data.h"

namespace vantor::testing {
namespace {

constexpr std::size_t kFlashSize = 0x40000;
constexpr std::size_t kBlockSize = 128;
constexpr std::uint8_t kId[7] = {0x5E, 0x17, 0xA9, 0x3B, 0xD4, 0x62, 0x8F};

// Bytes of each command, the command byte included; 0 for an unknown one.
std::size_t CommandLength(std::uint8_t command) {
  switch (command) {
    case 0xC0:
      return 1;
    case 0xC5:
      return 1;
    case 0xC1:
      return 2;
    case 0xCA:
      return 6;
    case 0xC3:
      return 1 + 4 + kBlockSize + 1;
    case 0xC7:
      return 1 + kBlockSize + 1;
    case 0xCB:
      return 1 + kBlockSize + 1;
    case 0xCC:
      return 1 + 4 + 4;
    default:
      return 0;
  }
}

// How far two rates may differ before a frame is read wrongly: the SCI's
// receive margin with 16 samples a bit and a 10-bit frame, (0.5 - 1/32) / 9.5.
constexpr double kRateMargin = (0.5 - 1.0 / 32.0) / 9.5;
// The chip gives up waiting for the probe after about this long.
constexpr std::uint64_t kProbeWindowMs = 200;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
  return text;
}

std::uint32_t BigEndian(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

// Bit by bit, as the chip's program does it (the host's own is table-driven).
std::uint32_t BitwiseCrc32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace

ChipPlayer::ChipPlayer() : ChipPlayer(Options{}) {}

ChipPlayer::ChipPlayer(const Options& options) : options_(options), image_(kFlashSize, 0xFF) {
  if (options_.programRunning) state_ = State::kCommand;
}

void ChipPlayer::PowerOn() {
  state_ = State::kBitRate;
  lineError_ = false;
  silent_ = false;
  command_.clear();
  streamCode_.clear();
  previousBlock_ = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  programLength_ = 0;
  rate_ = 9600.0;
  bitRateBytes_ = 0;
  program_.clear();
  writeMode_ = false;
}

bool ChipPlayer::RatesDiffer() const {
  if (!hostRate_) return false;
  const double host = hostRate_();
  double chip = 0.0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    chip = rate_;
  }
  return host <= 0.0 || std::fabs(host - chip) > chip * kRateMargin;
}

void ChipPlayer::SendBytes(const std::uint8_t* bytes, std::size_t count, unsigned delayMs) {
  if (silent_ || count == 0 || !output_) return;
  if (!RatesDiffer()) return output_(bytes, count, delayMs);
  // The host's receiver samples at its own rate: what arrives is not what
  // left.
  std::vector<std::uint8_t> garbled(bytes, bytes + count);
  for (std::uint8_t& byte : garbled) byte = static_cast<std::uint8_t>(~byte ^ 0x5A);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    garbled_ += static_cast<unsigned>(count);
  }
  output_(garbled.data(), count, delayMs);
}

void ChipPlayer::Send(std::initializer_list<std::uint8_t> bytes, unsigned delayMs) {
  SendBytes(bytes.begin(), bytes.size(), delayMs);
}

void ChipPlayer::Unexpected(const std::string& what) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (protocolError_.empty()) protocolError_ = what;
}

void ChipPlayer::OnByte(std::uint8_t byte) {
  if (state_ == State::kProbe && clock_ && clock_() - switchedAt_ > kProbeWindowMs) {
    // The window closed before this byte: the chip is back at its old rate
    // and takes the byte as a command.
    std::lock_guard<std::mutex> lock(mutex_);
    rate_ = oldRate_;
    state_ = State::kCommand;
  }
  // The boot ROM measures the host's rate itself; from then on the SCI runs
  // at the chip's rate.
  const bool garbled = state_ != State::kBitRate && RatesDiffer();
  if (garbled) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++garbled_;
    byte = static_cast<std::uint8_t>(~byte ^ 0xA5);
  }
  if (state_ == State::kProbe) return OnProbe(byte, garbled);
  if (garbled && state_ != State::kBitRate) lineError_ = true;
  switch (state_) {
    case State::kBitRate: {
      // The boot ROM measures the 0x00 bytes; any other byte is noise.
      if (byte != 0x00) return Unexpected("bit-rate adjustment: " + Hex(byte));
      unsigned count = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        count = ++bitRateBytes_;
      }
      if (fault_ == Fault::kBitRateSilent || count <= options_.bitRateSilentAttempts) return;
      Send({fault_ == Fault::kBitRateWrongAnswer ? std::uint8_t{0x11} : std::uint8_t{0x00}});
      state_ = State::kHandshake;
      return;
    }
    case State::kHandshake:
      if (byte != 0x55) return Unexpected("handshake: " + Hex(byte));
      if (fault_ == Fault::kHandshakeSilent) return;
      Send({fault_ == Fault::kHandshakeWrong ? std::uint8_t{0xA5} : std::uint8_t{0xAA}});
      state_ = State::kLengthHigh;
      return;
    case State::kLengthHigh: {
      if (fault_ == Fault::kLengthSilent) silent_ = true;
      Send({fault_ == Fault::kLengthWrongEcho ? static_cast<std::uint8_t>(byte ^ 0x01) : byte});
      std::lock_guard<std::mutex> lock(mutex_);
      programLength_ = static_cast<std::uint16_t>(byte << 8);
      state_ = State::kLengthLow;
      return;
    }
    case State::kLengthLow: {
      Send({fault_ == Fault::kLengthLowWrongEcho ? static_cast<std::uint8_t>(byte ^ 0x80) : byte});
      std::lock_guard<std::mutex> lock(mutex_);
      programLength_ = static_cast<std::uint16_t>(programLength_ | byte);
      state_ = programLength_ == 0 ? State::kCommand : State::kProgram;
      return;
    }
    case State::kProgram: {
      std::size_t index = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        index = program_.size();
        program_.push_back(byte);
      }
      if (fault_ == Fault::kProgramSilent && index == faultIndex_) silent_ = true;
      const bool wrong = fault_ == Fault::kProgramWrongEcho && index == faultIndex_;
      Send({wrong ? static_cast<std::uint8_t>(~byte) : byte});
      if (index + 1 < programLength_) return;
      // The whole program is in: erase the flash, report it, run the program.
      {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fill(image_.begin(), image_.end(), std::uint8_t{0xFF});
      }
      if (fault_ == Fault::kEraseSilent) silent_ = true;
      Send({fault_ == Fault::kEraseWrong ? std::uint8_t{0xFF} : std::uint8_t{0xAA}},
           options_.eraseMs);
      state_ = State::kCommand;
      return;
    }
    case State::kCommand:
      OnCommandByte(byte);
      return;
    case State::kProbe:
      return;  // handled above
    case State::kStreamCode:
      return OnStreamCode(byte);
    case State::kStream:
      return OnStreamByte(byte);
  }
}

// The stream's code and its 16-bit sum, after its loader: 0x06 from the
// stream once it runs, 0x93 (back in the command loop) when it came damaged.
void ChipPlayer::OnStreamCode(std::uint8_t byte) {
  streamCode_.push_back(byte);
  if (streamCode_.size() < kBlockStreamSize + 2) return;
  std::uint16_t sum = 0;
  ResetDescrambler();
  bool same = true;
  for (std::uint32_t i = 0; i < kBlockStreamSize; ++i) {
    sum = static_cast<std::uint16_t>(sum + streamCode_[i]);
    same = same && streamCode_[i] == DescrambleByte(kEmbeddedBlockStream[i]);
  }
  const bool sumGood = streamCode_[kBlockStreamSize] == (sum >> 8) &&
                       streamCode_[kBlockStreamSize + 1] == (sum & 0xFF);
  streamCode_.clear();
  if (!sumGood || lineError_ || fault_ == Fault::kStreamCodeDamaged) {
    lineError_ = false;
    state_ = State::kCommand;
    Send({0x93});
    return;
  }
  if (!same) Unexpected("block stream code differs from the embedded one");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    streamStarted_ = true;
  }
  state_ = State::kStream;
  Send({0x06});
}

// A frame of the stream: a block (0xC3/0xC7 as in the command loop), asked
// for next at once and answered after; 0xCD or 0xCE ends the stream. A
// refused or failed block ends it too (the chip drops what follows).
void ChipPlayer::OnStreamByte(std::uint8_t byte) {
  command_.push_back(byte);
  const std::uint8_t command = command_[0];
  if (command == 0xCD || command == 0xCE) {
    command_.clear();
    state_ = State::kCommand;
    if (command == 0xCD) return SendCrc(0, kFlashSize);
    Send({0x06});
    return;
  }
  if (command != 0xC3 && command != 0xC7) {
    command_.clear();
    state_ = State::kCommand;
    Unexpected("stream frame " + Hex(command));
    Send({0x92});
    return;
  }
  if (command_.size() < CommandLength(command)) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(command);
    ++streamBlocks_;
  }
  // The block as the command loop takes it, its answer moved behind a 0x11.
  const std::vector<std::uint8_t> answer = FinishBlock();
  command_.clear();
  lineError_ = false;
  if (answer.empty()) return;  // silent from now on
  if (answer == std::vector<std::uint8_t>{0x06}) {
    Send({0x11, 0x06});
  } else if (answer == std::vector<std::uint8_t>{0xB1, 0xD5}) {
    Send({0x11, 0xB1, 0xD5});
    state_ = State::kCommand;
  } else {
    SendBytes(answer.data(), answer.size());
    state_ = State::kCommand;
  }
}

// The CRC-32 of flash[start, start + count), then 0x06 (or the fault asked
// for).
void ChipPlayer::SendCrc(std::uint32_t start, std::uint32_t count) {
  std::uint32_t crc = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    crc = BitwiseCrc32(image_.data() + start, count);
  }
  if (fault_ == Fault::kCrcWrong) crc ^= 0x00010000u;
  if (fault_ == Fault::kCrcSilent) {
    silent_ = true;
    return;
  }
  Send({static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
        static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)});
  Send({fault_ == Fault::kCrcEndWrong ? std::uint8_t{0x07} : std::uint8_t{0x06}});
}

// 0xCB unit sum, the unit being the rate switch with its setting (n, N):
// yes at the old rate, then the new rate and a wait for the probe.
void ChipPlayer::StartRateSwitch() {
  const std::uint8_t* unit = &command_[1];
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < kBlockSize; ++i) sum = static_cast<std::uint8_t>(sum + unit[i]);
  if (sum != command_[1 + kBlockSize] || lineError_) {
    lineError_ = false;
    Send({0x93});
    return;
  }
  // The block stream's loader: the stream's code follows.
  ResetDescrambler();
  bool loader = true;
  for (std::uint32_t i = 0; i < kStreamLoaderSize && loader; ++i) {
    loader = unit[i] == DescrambleByte(kEmbeddedStreamLoader[i]);
  }
  if (loader) {
    if (!writeMode_) Unexpected("block stream before write mode");
    streamCode_.clear();
    state_ = State::kStreamCode;
    return;
  }
  ResetDescrambler();
  for (std::uint32_t i = 0; i < kRateSwitchSize; ++i) {
    const std::uint8_t code = DescrambleByte(kEmbeddedRateSwitch[i]);
    if (i != kRateSwitchSettingOffset && i != kRateSwitchSettingOffset + 1 && unit[i] != code) {
      return Unexpected("rate switch byte " + std::to_string(i) + " is " + Hex(unit[i]));
    }
  }
  const std::uint8_t select = unit[kRateSwitchSettingOffset];
  const std::uint8_t brr = unit[kRateSwitchSettingOffset + 1];
  if (select > 3 || fault_ == Fault::kSwitchRefused) {
    Send({0x92});
    return;
  }
  Send({0x06});
  const std::uint8_t* reply = options_.clockReply;
  const double clockHz =
      32.0 * (reply[0] + 1.0) * static_cast<double>(1u << (2 * (reply[1] & 3))) * 9600.0;
  std::lock_guard<std::mutex> lock(mutex_);
  oldRate_ = rate_;
  rate_ = clockHz / (32.0 * static_cast<double>(1u << (2 * select)) * (brr + 1.0));
  switchedAt_ = clock_ ? clock_() : 0;
  state_ = State::kProbe;
}

// A clean 0x55 at the new rate is answered with 0xAA there; anything else
// puts the old rate back, and nothing is sent.
void ChipPlayer::OnProbe(std::uint8_t byte, bool garbled) {
  state_ = State::kCommand;
  if (!garbled && byte == 0x55 && fault_ != Fault::kSwitchNoProbe) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++rateSwitches_;
    }
    Send({0xAA});
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  rate_ = oldRate_;
}

void ChipPlayer::OnCommandByte(std::uint8_t byte) {
  command_.push_back(byte);
  const std::size_t length = CommandLength(command_[0]);
  if (length == 0) {  // unknown command byte: the program ignores it
    command_.clear();
    lineError_ = false;
    return Unexpected("command " + Hex(byte));
  }
  if (command_.size() < length) return;
  if (command_[0] != 0xCA) {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(command_[0]);
  }

  switch (command_[0]) {
    case 0xC0:
      if (fault_ == Fault::kIdWrong) {
        Send({0x5F});
      } else if (fault_ == Fault::kIdSilent) {
        SendBytes(kId, 3);
        silent_ = true;
      } else {
        SendBytes(kId, sizeof kId);
        Send({fault_ == Fault::kIdCompletionWrong ? std::uint8_t{0x81} : std::uint8_t{0x80}});
      }
      break;
    case 0xC5: {
      const std::uint8_t* reply = options_.clockReply;
      Send({reply[0], reply[1], reply[2], reply[3]});
      Send({fault_ == Fault::kClockCompletionWrong ? std::uint8_t{0x00} : reply[4]});
      break;
    }
    case 0xCA: {
      std::lock_guard<std::mutex> lock(mutex_);
      parameterWrites_.push_back({command_[1], command_[2], command_[3], command_[4], command_[5]});
      break;
    }
    case 0xCB:
      StartRateSwitch();
      break;
    case 0xC1:
      if (command_[1] != 0x03) Unexpected("write mode operand " + Hex(command_[1]));
      if (command_[1] == 0x03 && fault_ != Fault::kWriteModeRefused) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          writeMode_ = true;
        }
        Send({0x80});
      } else {
        Send({0x81});
      }
      break;
    case 0xCC: {
      const std::uint32_t start = BigEndian(&command_[1]);
      const std::uint32_t count = BigEndian(&command_[5]);
      if (start > kFlashSize || count > kFlashSize - start) {
        Send({0x92});
        break;
      }
      SendCrc(start, count);
      break;
    }
    default: {
      const std::vector<std::uint8_t> answer = FinishBlock();
      SendBytes(answer.data(), answer.size());
      break;
    }
  }
  command_.clear();
  lineError_ = false;
}

// The block in command_ taken as the command loop takes it; its answer,
// empty when the chip stays silent.
std::vector<std::uint8_t> ChipPlayer::FinishBlock() {
  const bool withAddress = command_[0] == 0xC3;
  const std::size_t dataAt = withAddress ? 5 : 1;
  std::uint32_t address = previousBlock_ + kBlockSize;
  if (withAddress) {
    address = static_cast<std::uint32_t>(command_[1]) << 24 |
              static_cast<std::uint32_t>(command_[2]) << 16 |
              static_cast<std::uint32_t>(command_[3]) << 8 | command_[4];
  }
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < kBlockSize; ++i)
    sum = static_cast<std::uint8_t>(sum + command_[dataAt + i]);
  const bool sumGood = sum == command_[dataAt + kBlockSize];
  const bool aligned = address % kBlockSize == 0 && address < kFlashSize;

  std::size_t index = 0;
  bool writeMode = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    index = blocks_.size();
    blocks_.push_back({command_[0], address});
    writeMode = writeMode_;
  }
  if (!sumGood) {
    Unexpected("block checksum at " + Hex(address));
  } else if (!aligned || !writeMode) {
    Unexpected("block at " + Hex(address) + (writeMode ? "" : " before write mode"));
  }
  const bool faultHere = index == faultIndex_;
  if (faultHere && fault_ == Fault::kBlockSilent) {
    silent_ = true;
    return {};
  }
  if (faultHere && fault_ == Fault::kBlockRefusalGarbled) {
    return {0x13};
  }
  if (!sumGood || lineError_ || (faultHere && fault_ == Fault::kBlockChecksum)) {
    lineError_ = false;
    return {0x93};
  }
  if (!aligned || !writeMode || (faultHere && fault_ == Fault::kBlockBadParameter)) {
    return {0x92};
  }
  if (faultHere && fault_ == Fault::kBlockProgramFailed) {
    return {0xB1, 0xD5};
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(&image_[address], &command_[dataAt], kBlockSize);
  }
  previousBlock_ = address;
  return {0x06};
}

std::vector<std::uint32_t> ChipPlayer::BlockAddresses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint32_t> addresses;
  for (const Block& block : blocks_) addresses.push_back(block.address);
  return addresses;
}

std::size_t ChipPlayer::BlocksReceived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_.size();
}

std::size_t ChipPlayer::ProgramBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return program_.size();
}

bool ChipPlayer::Received(std::uint8_t command) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(commands_.begin(), commands_.end(), command) != commands_.end();
}

}  // namespace vantor::testing
