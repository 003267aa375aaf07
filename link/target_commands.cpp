#include "link/target_commands.h"

#include <algorithm>

#include "image/load_image.h"
#include "link/device_profile.h"
#include "link/serial_link.h"

namespace vantor {
namespace {

constexpr std::uint8_t kIdCommand = 0xC0;
constexpr std::uint8_t kWriteModeCommand = 0xC1;
constexpr std::uint8_t kWriteModeOperand = 0x03;
constexpr std::uint8_t kCompletion = 0x80;
constexpr std::uint8_t kFlashCrcCommand = 0xCC;
constexpr std::uint8_t kCrcDone = 0x06;

// The completion byte of 0xC0 and 0xC1.
ErrorCode AwaitCompletion() {
  std::uint8_t reply = 0;
  if (!WaitReply(reply)) return kNoCompletion;
  return reply == kCompletion ? kOk : kCommandFailed;
}

// The end of the load image that block commands may read: the flash size,
// and never past the image itself.
std::uint64_t ImageLimit() {
  return std::min<std::uint64_t>(kDeviceProfile.flashSize, kLoadImageSize);
}

// The image byte at `address`; bytes beyond the flash read as erased.
std::uint8_t ImageByte(std::uint64_t address) {
  return address < ImageLimit() ? LoadImage[address] : 0xFF;
}

// The block's data and sum, then the reply.
ErrorCode SendBlockBody(std::uint32_t address) {
  if (const ErrorCode code = SendBlockData(address); code != kOk) return code;

  std::uint8_t reply = 0;
  if (!WaitReply(reply)) return kBlockNoReply;
  switch (reply) {
    case kReplyBadParameter:
      return kBlockBadParameter;
    case kReplyReceiveError:
      return kBlockReceiveError;
    case kReplyWriteStatus:
      if (!WaitReply(reply)) return kBlockNoReply;
      return reply == kWriteStatusFailed ? kBlockWriteFailed : kOk;
    default:
      return kOk;
  }
}

}  // namespace

bool WaitReply(std::uint8_t& out) {
  for (unsigned tries = 0; tries < kReplyWaitTries; ++tries) {
    if (ReceiveByte(out) == kOk) return true;
    SleepMilliseconds(1);
  }
  return false;
}

ErrorCode SendBlockData(std::uint32_t address) {
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < kDeviceProfile.writeUnit; ++i) {
    const std::uint8_t byte = ImageByte(std::uint64_t{address} + i);
    if (const ErrorCode code = SendByte(byte); code != kOk) return code;
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  return SendByte(sum);
}

ErrorCode SendAddress(std::uint32_t address) {
  for (const unsigned shift : {24u, 16u, 8u, 0u}) {
    if (const ErrorCode code = SendByte((address >> shift) & 0xFFu); code != kOk) return code;
  }
  return kOk;
}

ErrorCode CheckTargetId() {
  if (const ErrorCode code = SendByte(kIdCommand); code != kOk) return code;
  for (const std::uint8_t expected : kTargetId) {
    std::uint8_t reply = 0;
    if (!WaitReply(reply)) return kIdNotReceived;
    if (reply != expected) return kIdMismatch;
  }
  return AwaitCompletion();
}

ErrorCode EnterWriteMode() {
  if (const ErrorCode code = SendByte(kWriteModeCommand); code != kOk) return code;
  if (const ErrorCode code = SendByte(kWriteModeOperand); code != kOk) return code;
  return AwaitCompletion();
}

ErrorCode WriteBlockAt(std::uint32_t address) {
  if (const ErrorCode code = SendByte(kBlockAtCommand); code != kOk) return code;
  if (const ErrorCode code = SendAddress(address); code != kOk) return code;
  return SendBlockBody(address);
}

ErrorCode WriteNextBlock(std::uint32_t address) {
  if (const ErrorCode code = SendByte(kNextBlockCommand); code != kOk) return code;
  return SendBlockBody(address);
}

ErrorCode ReadFlashCrc(std::uint32_t start, std::uint32_t count, std::uint32_t& crc) {
  if (const ErrorCode code = SendByte(kFlashCrcCommand); code != kOk) return code;
  for (const std::uint32_t value : {start, count}) {
    if (const ErrorCode code = SendAddress(value); code != kOk) return code;
  }
  // A refusal (0x92) cannot be told from a first CRC byte of that value:
  // the host asks only for ranges inside the flash, so it always waits for
  // all five bytes, and a refusal ends as a missing answer.
  return AwaitCrcAnswer(crc);
}

ErrorCode AwaitCrcAnswer(std::uint32_t& crc) {
  std::uint32_t value = 0;
  std::uint8_t reply = 0;
  for (int i = 0; i < 4; ++i) {
    if (!WaitReply(reply)) return kBlockNoReply;
    value = value << 8 | reply;
  }
  if (!WaitReply(reply) || reply != kCrcDone) return kBlockNoReply;
  crc = value;
  return kOk;
}

bool IsBlankBlock(std::uint32_t address) {
  const std::uint64_t end =
      std::min<std::uint64_t>(std::uint64_t{address} + kDeviceProfile.writeUnit, ImageLimit());
  for (std::uint64_t a = address; a < end; ++a) {
    if (LoadImage[a] != 0xFF) return false;
  }
  return true;
}

}  // namespace vantor
