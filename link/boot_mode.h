// Boot-mode entry and the transfer of the write-control program.
#pragma once

#include <cstdint>
#include <optional>

#include "common/error_code.h"

namespace vantor {

// Bit-rate adjustment, the 0x55/0xAA handshake and the program length.
ErrorCode StartBootMode();

// Every program byte, descrambled just before it goes, each echo checked.
ErrorCode TransferWriteControlProgram();

// Waits up to 30,000 reads for the chip's 0xAA (flash erased).
ErrorCode WaitEraseComplete();

// One byte out and up to 1000 reads for one byte back.
struct EchoResult {
  ErrorCode sendCode = kOk;            // non-zero: the send failed, nothing was read
  std::optional<std::uint8_t> answer;  // empty: no answer within 1000 reads
};
EchoResult SendEchoed(std::uint8_t byte);

inline constexpr unsigned kBitRateAttempts = 1000;
inline constexpr unsigned kEchoReadLimit = 1000;
inline constexpr unsigned kEraseReadLimit = 30000;

}  // namespace vantor
