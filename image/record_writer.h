// Writes a load image out as a load file: S-record text or packed records.
// Used to make the examples, benchmark inputs and test files.
#pragma once

#include <cstdint>
#include <string>

namespace vantor {

struct RecordWriterOptions {
  std::uint32_t data_bytes = 32;  // per data record; 1-250
  int type = 0;                   // S-records: 1, 2 or 3; 0 picks the narrowest per record
  bool skip_blank = true;         // leave out records whose bytes are all 0xFF
  std::string header;             // S0 header text (S-records only); none when empty
};

// S-record text with LF line ends, right counts and checksums, and the end
// record that matches the widest data record (S9, S8 or S7).
std::string FormatSRecords(const std::uint8_t* image, std::uint32_t size,
                           const RecordWriterOptions& options = {});

// Packed records: 0x53 0x03 L address data trailer 0x0A for each data
// record, then the end record 0x53 0x07 0x0A. The trailer is the checksum an
// S3 record would carry.
std::string FormatPackedRecords(const std::uint8_t* image, std::uint32_t size,
                                const RecordWriterOptions& options = {});

}  // namespace vantor
