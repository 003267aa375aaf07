// CRC-32 as zlib computes it (reflected polynomial 0xEDB88320, initial value
// and final XOR 0xFFFFFFFF): the check value the write compares with the
// chip's answer for its flash.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantor {

// The CRC-32 of data[0..length). Continues a running value: pass the result
// of the previous part as `crc` (0 to start), as zlib's crc32() does.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length, std::uint32_t crc = 0);

}  // namespace vantor
