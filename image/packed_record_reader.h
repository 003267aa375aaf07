// Packed record reader (".qpf"): S-record-like records in binary.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/error_code.h"

namespace vantor {

// Reads the packed record file at `path` into image[0..size). Returns 0 at
// the end record, or 100, 101, 103, 104. The file is closed on every return.
ErrorCode ReadPackedRecordFile(const char* path, std::uint8_t* image, std::uint32_t size);

// The same reader over bytes already in memory. For the tests and fuzz targets.
ErrorCode ReadPackedRecordBytes(const std::uint8_t* data, std::size_t length, std::uint8_t* image,
                                std::uint32_t size);

}  // namespace vantor
