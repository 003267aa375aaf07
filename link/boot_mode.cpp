#include "link/boot_mode.h"

#include "link/descrambler.h"
#include "link/device_profile.h"
#include "link/serial_link.h"

namespace vantor {
namespace {

constexpr std::uint8_t kBitRateByte = 0x00;
constexpr std::uint8_t kHandshakeByte = 0x55;
constexpr std::uint8_t kHandshakeAnswer = 0xAA;
constexpr std::uint8_t kEraseCompleteByte = 0xAA;

// One echoed step: `byte` out, `expected` back. `silent` when nothing came,
// `wrong` when something else came; a failed send returns its own code.
ErrorCode EchoStep(std::uint8_t byte, std::uint8_t expected, ErrorCode silent, ErrorCode wrong) {
  const EchoResult echo = SendEchoed(byte);
  if (echo.sendCode != kOk) return echo.sendCode;
  if (!echo.answer) return silent;
  return *echo.answer == expected ? kOk : wrong;
}

// Up to `limit` reads without a pause; a failed read counts as nothing.
bool ReceiveWithin(unsigned limit, std::uint8_t& out) {
  for (unsigned i = 0; i < limit; ++i) {
    if (ReceiveByte(out) == kOk) return true;
  }
  return false;
}

}  // namespace

EchoResult SendEchoed(std::uint8_t byte) {
  EchoResult result;
  result.sendCode = SendByte(byte);
  if (result.sendCode != kOk) return result;
  std::uint8_t received = 0;
  if (ReceiveWithin(kEchoReadLimit, received)) result.answer = received;
  return result;
}

ErrorCode StartBootMode() {
  if (const ErrorCode code = DrainReceiveBuffer(); code != kOk) return code;

  // Bit-rate adjustment: one 0x00 and one read per attempt; the first byte
  // that comes ends it, right or wrong.
  bool answered = false;
  std::uint8_t received = 0;
  for (unsigned attempt = 0; attempt < kBitRateAttempts && !answered; ++attempt) {
    if (const ErrorCode code = SendByte(kBitRateByte); code != kOk) return code;
    answered = ReceiveByte(received) == kOk;
  }
  if (!answered) return kBitRateNoAnswer;
  if (received != kBitRateByte) return kBitRateWrongAnswer;

  // Whatever the chip sent after its answer goes before the handshake.
  if (const ErrorCode code = DrainReceiveBuffer(); code != kOk) return code;

  if (const ErrorCode code =
          EchoStep(kHandshakeByte, kHandshakeAnswer, kHandshakeNoAnswer, kHandshakeWrongAnswer);
      code != kOk) {
    return code;
  }

  const std::uint32_t length = kDeviceProfile.embeddedSize - kClockTableSize;
  const auto high = static_cast<std::uint8_t>((length >> 8) & 0xFFu);
  const auto low = static_cast<std::uint8_t>(length & 0xFFu);
  if (const ErrorCode code = EchoStep(high, high, kLengthHighNoEcho, kLengthHighWrongEcho);
      code != kOk) {
    return code;
  }
  return EchoStep(low, low, kLengthLowNoEcho, kLengthLowWrongEcho);
}

ErrorCode TransferWriteControlProgram() {
  ResetDescrambler();
  const std::uint8_t* const data = kDeviceProfile.embeddedData;
  for (std::uint32_t offset = kClockTableSize; offset < kDeviceProfile.embeddedSize; ++offset) {
    const std::uint8_t plain = DescrambleByte(data[offset]);
    if (const ErrorCode code = EchoStep(plain, plain, kProgramNoEcho, kProgramWrongEcho);
        code != kOk) {
      return code;
    }
  }
  return kOk;
}

ErrorCode WaitEraseComplete() {
  std::uint8_t received = 0;
  if (!ReceiveWithin(kEraseReadLimit, received)) return kEraseNoSignal;
  return received == kEraseCompleteByte ? kOk : kEraseWrongSignal;
}

}  // namespace vantor
