// Commands of the write-control program running on the chip.
#pragma once

#include <cstdint>

#include "common/error_code.h"

namespace vantor {

inline constexpr std::uint8_t kTargetId[7] = {0x5E, 0x17, 0xA9, 0x3B, 0xD4, 0x62, 0x8F};
inline constexpr unsigned kReplyWaitTries = 1000;

inline constexpr std::uint8_t kBlockAtCommand = 0xC3;
inline constexpr std::uint8_t kNextBlockCommand = 0xC7;
// Block replies other than success.
inline constexpr std::uint8_t kReplyBadParameter = 0x92;
inline constexpr std::uint8_t kReplyReceiveError = 0x93;
inline constexpr std::uint8_t kReplyWriteStatus = 0xB1;  // then kWriteStatusFailed
inline constexpr std::uint8_t kWriteStatusFailed = 0xD5;

// The reply wait: up to 1000 reads, with a 1 ms pause after each that brought
// nothing (a failed read counts as nothing). False when nothing came.
bool WaitReply(std::uint8_t& out);

// The 128 bytes of the load image's block at `address`, then their sum;
// no reply is read. Bytes beyond the flash go out as 0xFF.
ErrorCode SendBlockData(std::uint32_t address);

// Four bytes, most significant first.
ErrorCode SendAddress(std::uint32_t address);

// 0xC0: the seven ID bytes, then 0x80.
ErrorCode CheckTargetId();

// 0xC1 0x03: 0x80 confirms write mode.
ErrorCode EnterWriteMode();

// 0xC3 address data[128] sum: one block of the load image with its address.
ErrorCode WriteBlockAt(std::uint32_t address);

// 0xC7 data[128] sum: the block that directly follows the one sent before.
// `address` only locates the data in the load image.
ErrorCode WriteNextBlock(std::uint32_t address);

// 0xCC a3..a0 n3..n0: the CRC-32 of flash[start, start + count), answered as
// four bytes, most significant first, and 0x06. 0 with `crc` set, 304 when
// a byte of the answer does not come within the reply wait or the last is
// not 0x06, or the link's send code.
ErrorCode ReadFlashCrc(std::uint32_t start, std::uint32_t count, std::uint32_t& crc);

// A CRC answer: four bytes, most significant first, then 0x06. 304 when a
// byte does not come within the reply wait or the last is not 0x06.
ErrorCode AwaitCrcAnswer(std::uint32_t& crc);

// Whether the block of the load image at `address` is all 0xFF. Bytes at or
// above the flash size count as blank.
bool IsBlankBlock(std::uint32_t address);

}  // namespace vantor
