// The block stream: on the fast line the write-control program takes its
// second part (kEmbeddedBlockStream), which programs a unit while the next
// block is already coming. The chip asks for each next block (0x11) as soon
// as the unit it has is past its first program pulse, and answers each unit
// (0x06) when it has verified; the writer sends the next block on the ask,
// so line and flash work at once. After the last block one byte ends the
// stream, with or without the CRC-32 of the whole flash, which the chip
// works out between blocks.
//
// The exchange, block by block:
//   writer: block 0            (0xC3 a3..a0 data sum, or 0xC7 data sum)
//   chip:   0x11               writer: block 1 (or the end)
//   chip:   0x06 for block 0   ...
// Free functions over the link's state, integer codes, nothing thrown.
#pragma once

#include <cstdint>

#include "common/error_code.h"

namespace vantor {

inline constexpr std::uint8_t kStreamNext = 0x11;
inline constexpr std::uint8_t kStreamWritten = 0x06;
inline constexpr std::uint8_t kStreamEndWithCrc = 0xCD;
inline constexpr std::uint8_t kStreamEnd = 0xCE;

// 0xCB with the stream's loader and its sum, the stream's code and its
// 16-bit sum; the stream's 0x06 says it runs. 305 when the chip took the
// code damaged (0x93; it is back in its command loop), 306 when it is not in
// write mode (0x92), 304 for no answer or another, or the link's send code.
ErrorCode StartBlockStream();

// The block of the load image at `address`: with its address, or, when
// `continuation`, as the one after the block before (0xC7).
ErrorCode SendStreamBlock(std::uint32_t address, bool continuation);

// The chip's ask for the next block. 305 (the block came damaged), 306
// (address refused: not a unit, beyond the flash, or not above the one
// before), 307 (the unit's first pulse failed), 304 (no answer or another).
ErrorCode AwaitStreamNext();

// The chip's answer for the unit it programmed: 0 when it verified, 307
// when it did not take, 304 for no answer or another.
ErrorCode AwaitStreamWritten();

// The end of the stream, sent in place of a next block; the chip is back in
// its command loop afterwards.
ErrorCode SendStreamEnd(bool withCrc);

// After the end with the CRC: the four CRC bytes (most significant first)
// and 0x06. 304 when a byte does not come or the last is not 0x06.
ErrorCode AwaitStreamCrc(std::uint32_t& crc);

// After the end without it: 0x06, else 304.
ErrorCode AwaitStreamEnded();

}  // namespace vantor
