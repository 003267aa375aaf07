#include "link/block_stream.h"

#include "link/descrambler.h"
#include "link/embedded_data.h"
#include "link/line_rate.h"
#include "link/serial_link.h"
#include "link/target_commands.h"

namespace vantor {
namespace {

// The stream's code as the chip receives it, with its 16-bit sum.
ErrorCode SendStreamCode() {
  ResetDescrambler();
  std::uint16_t sum = 0;
  for (std::uint32_t i = 0; i < kBlockStreamSize; ++i) {
    const std::uint8_t byte = DescrambleByte(kEmbeddedBlockStream[i]);
    if (const ErrorCode code = SendByte(byte); code != kOk) return code;
    sum = static_cast<std::uint16_t>(sum + byte);
  }
  if (const ErrorCode code = SendByte(static_cast<std::uint8_t>(sum >> 8)); code != kOk) {
    return code;
  }
  return SendByte(static_cast<std::uint8_t>(sum));
}

// 0xB1 has been read: 0xD5 must follow.
ErrorCode WriteStatus() {
  std::uint8_t reply = 0;
  if (!WaitReply(reply)) return kBlockNoReply;
  return reply == kWriteStatusFailed ? kBlockWriteFailed : kBlockNoReply;
}

}  // namespace

ErrorCode StartBlockStream() {
  std::uint8_t loader[kUnitSize];
  ResetDescrambler();
  for (std::uint32_t i = 0; i < kUnitSize; ++i) {
    loader[i] = DescrambleByte(kEmbeddedStreamLoader[i]);
  }
  if (const ErrorCode code = SendUnit(loader); code != kOk) return code;
  if (const ErrorCode code = SendStreamCode(); code != kOk) return code;

  std::uint8_t reply = 0;
  if (!WaitReply(reply)) return kBlockNoReply;
  switch (reply) {
    case kStreamWritten:
      return kOk;
    case kReplyReceiveError:
      return kBlockReceiveError;
    case kReplyBadParameter:
      return kBlockBadParameter;
    default:
      return kBlockNoReply;
  }
}

ErrorCode SendStreamBlock(std::uint32_t address, bool continuation) {
  if (continuation) {
    if (const ErrorCode code = SendByte(kNextBlockCommand); code != kOk) return code;
  } else {
    if (const ErrorCode code = SendByte(kBlockAtCommand); code != kOk) return code;
    if (const ErrorCode code = SendAddress(address); code != kOk) return code;
  }
  return SendBlockData(address);
}

ErrorCode AwaitStreamNext() {
  std::uint8_t reply = 0;
  if (!WaitReply(reply)) return kBlockNoReply;
  switch (reply) {
    case kStreamNext:
      return kOk;
    case kReplyReceiveError:
      return kBlockReceiveError;
    case kReplyBadParameter:
      return kBlockBadParameter;
    case kReplyWriteStatus:
      return WriteStatus();
    default:
      return kBlockNoReply;
  }
}

ErrorCode AwaitStreamWritten() {
  std::uint8_t reply = 0;
  if (!WaitReply(reply)) return kBlockNoReply;
  if (reply == kStreamWritten) return kOk;
  return reply == kReplyWriteStatus ? WriteStatus() : kBlockNoReply;
}

ErrorCode SendStreamEnd(bool withCrc) {
  return SendByte(withCrc ? kStreamEndWithCrc : kStreamEnd);
}

ErrorCode AwaitStreamCrc(std::uint32_t& crc) {
  return AwaitCrcAnswer(crc);
}

ErrorCode AwaitStreamEnded() {
  std::uint8_t reply = 0;
  if (!WaitReply(reply)) return kBlockNoReply;
  return reply == kStreamWritten ? kOk : kBlockNoReply;
}

}  // namespace vantor
