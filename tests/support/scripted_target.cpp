#include "tests/support/scripted_target.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

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
    default:
      return 0;
  }
}

template <typename Predicate>
bool WaitUntil(Predicate done, unsigned timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

ChipPlayer::ChipPlayer(Output output) : output_(std::move(output)), image_(kFlashSize, 0xFF) {}

void ChipPlayer::PowerOn() {
  state_ = State::kBitRate;
  programLength_ = 0;
  silent_ = false;
  command_.clear();
  previousBlock_ = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  programReceived_ = 0;
  writeMode_ = false;
}

void ChipPlayer::SendBytes(const std::uint8_t* bytes, std::size_t count) {
  if (!silent_ && count > 0) output_(bytes, count);
}

void ChipPlayer::Send(std::initializer_list<std::uint8_t> bytes) {
  SendBytes(bytes.begin(), bytes.size());
}

void ChipPlayer::OnByte(std::uint8_t byte) {
  switch (state_) {
    case State::kBitRate:
      // The boot ROM measures the 0x00 bytes; any other byte is noise.
      if (byte != 0x00) return;
      if (fault_ == Fault::kBitRateSilent) return;
      Send({fault_ == Fault::kBitRateWrongAnswer ? std::uint8_t{0x11} : std::uint8_t{0x00}});
      state_ = State::kHandshake;
      return;
    case State::kHandshake:
      if (byte != 0x55) return;
      if (fault_ == Fault::kHandshakeSilent) return;
      Send({fault_ == Fault::kHandshakeWrong ? std::uint8_t{0xA5} : std::uint8_t{0xAA}});
      state_ = State::kLengthHigh;
      return;
    case State::kLengthHigh:
      if (fault_ == Fault::kLengthSilent) silent_ = true;
      Send({fault_ == Fault::kLengthWrongEcho ? static_cast<std::uint8_t>(byte ^ 0x01) : byte});
      programLength_ = static_cast<std::uint16_t>(byte << 8);
      state_ = State::kLengthLow;
      return;
    case State::kLengthLow:
      Send({fault_ == Fault::kLengthLowWrongEcho ? static_cast<std::uint8_t>(byte ^ 0x80) : byte});
      programLength_ = static_cast<std::uint16_t>(programLength_ | byte);
      state_ = programLength_ == 0 ? State::kCommand : State::kProgram;
      return;
    case State::kProgram: {
      std::size_t index = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        index = programReceived_++;
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
      Send({fault_ == Fault::kEraseWrong ? std::uint8_t{0xFF} : std::uint8_t{0xAA}});
      state_ = State::kCommand;
      return;
    }
    case State::kCommand:
      OnCommandByte(byte);
      return;
  }
}

void ChipPlayer::OnCommandByte(std::uint8_t byte) {
  command_.push_back(byte);
  const std::size_t length = CommandLength(command_[0]);
  if (length == 0) {  // unknown command byte: the program ignores it
    command_.clear();
    return;
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
    case 0xC5:
      // BRR 64 and clock select 0 at 9600 bit/s: a 19.968 MHz board.
      Send({64, 0, 0, 32});
      Send({fault_ == Fault::kClockCompletionWrong ? std::uint8_t{0x00} : std::uint8_t{0x80}});
      break;
    case 0xCA: {
      std::lock_guard<std::mutex> lock(mutex_);
      ++parameterWrites_;
      break;
    }
    case 0xC1:
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
    default:
      FinishBlock();
      break;
  }
  command_.clear();
}

void ChipPlayer::FinishBlock() {
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

  std::size_t index = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    index = blocks_.size();
    blocks_.push_back({command_[0], address});
  }
  const bool faultHere = index == faultIndex_;
  if (faultHere && fault_ == Fault::kBlockSilent) {
    silent_ = true;
    return;
  }
  if (!sumGood || (faultHere && fault_ == Fault::kBlockChecksum)) {
    Send({0x93});
    return;
  }
  const bool aligned = address % kBlockSize == 0 && address < kFlashSize;
  if (!aligned || !writeMode_ || (faultHere && fault_ == Fault::kBlockBadParameter)) {
    Send({0x92});
    return;
  }
  if (faultHere && fault_ == Fault::kBlockProgramFailed) {
    Send({0xB1, 0xD5});
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(&image_[address], &command_[dataAt], kBlockSize);
  }
  previousBlock_ = address;
  Send({0x06});
}

std::vector<std::uint8_t> ChipPlayer::Image() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return image_;
}

std::vector<ChipPlayer::Block> ChipPlayer::Blocks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_;
}

std::size_t ChipPlayer::BlocksReceived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_.size();
}

std::size_t ChipPlayer::ProgramBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return programReceived_;
}

std::size_t ChipPlayer::ParameterWrites() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return parameterWrites_;
}

std::vector<std::uint8_t> ChipPlayer::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

bool ChipPlayer::WriteModeEntered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writeMode_;
}

#if !defined(_WIN32)
// --- the pseudo-terminal ------------------------------------------------------

ScriptedTarget::ScriptedTarget()
    : chip_([this](const std::uint8_t* bytes, std::size_t count) { Write(bytes, count); }) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    std::fprintf(stderr, "scripted target: no pseudo-terminal: %s\n", std::strerror(errno));
    std::abort();
  }
  const char* name = ptsname(master_);
  if (name == nullptr) std::abort();
  slavePath_ = name;
}

ScriptedTarget::~ScriptedTarget() {
  Stop();
  if (master_ >= 0) close(master_);
}

void ScriptedTarget::Start() {
  thread_ = std::thread([this] { Run(); });
}

void ScriptedTarget::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void ScriptedTarget::Write(const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t put = write(master_, bytes, count);
    if (put < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;  // the host went away
    }
    bytes += put;
    count -= static_cast<std::size_t>(put);
  }
}

void ScriptedTarget::Run() {
  // The master reports a hang-up while no process has the slave open; the
  // first moment without one after a hang-up is a new session (power on).
  while (!stop_) {
    pollfd pfd{master_, POLLIN, 0};
    const int ready = poll(&pfd, 1, 5);
    if (ready < 0 && errno != EINTR) return;
    const bool hungUp = ready > 0 && (pfd.revents & POLLHUP) != 0 && (pfd.revents & POLLIN) == 0;
    if (hungUp) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    bool newSession = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!connected_) {
        connected_ = true;
        ++sessions_;
        newSession = true;
      }
    }
    if (newSession) chip_.PowerOn();
    if (ready <= 0) continue;

    std::uint8_t buffer[512];
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) continue;  // EIO: the slave closed between poll and read
    for (ssize_t i = 0; i < got; ++i) chip_.OnByte(buffer[i]);
  }
}

std::size_t ScriptedTarget::Sessions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_;
}

bool ScriptedTarget::HostConnected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

bool ScriptedTarget::WaitForBlocks(std::size_t count, unsigned timeoutMs) const {
  return WaitUntil([&] { return chip_.BlocksReceived() >= count; }, timeoutMs);
}

bool ScriptedTarget::WaitForHangUp(unsigned timeoutMs) const {
  return WaitUntil([&] { return !HostConnected(); }, timeoutMs);
}

#endif  // !_WIN32

}  // namespace vantor::testing
