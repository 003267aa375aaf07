// Motorola S-record reader (".mot").
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/error_code.h"

namespace vantor {

// Data records whose checksum does not match are stored all the same (files
// that have always loaded keep loading); the last read counts them here.
struct ChecksumReport {
  unsigned wrongRecords = 0;  // S1, S2 and S3 records with a wrong checksum
  unsigned firstLine = 0;     // the line of the first of them (from 1); 0 for none
};

// Reads the S-record file at `path` into image[0..size). Returns 0 at the
// first end record (S7, S8, S9), or 100-104. The file is closed on every return.
ErrorCode ReadSRecordFile(const char* path, std::uint8_t* image, std::uint32_t size);

// The same reader over bytes already in memory, as they stand in a file
// (CR LF and 0x1A are handled as for a file). For the tests and fuzz targets.
ErrorCode ReadSRecordBytes(const std::uint8_t* data, std::size_t length, std::uint8_t* image,
                           std::uint32_t size);

// The checksum count of the last read (file or bytes), also after a failed one.
const ChecksumReport& LastChecksumReport();

// Empties the report; LoadFile does so before every load.
void ResetChecksumReport();

}  // namespace vantor
