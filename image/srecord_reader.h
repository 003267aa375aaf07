// Motorola S-record reader (".mot").
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/error_code.h"

namespace vantor {

// Reads the S-record file at `path` into image[0..size). Returns 0 at the
// first end record (S7, S8, S9), or 100-104. The file is closed on every return.
ErrorCode ReadSRecordFile(const char* path, std::uint8_t* image, std::uint32_t size);

// The same reader over bytes already in memory, as they stand in a file
// (CR LF and 0x1A are handled as for a file). For the tests and fuzz targets.
ErrorCode ReadSRecordBytes(const std::uint8_t* data, std::size_t length, std::uint8_t* image,
                           std::uint32_t size);

}  // namespace vantor
