// A second S-record reader built on the C library's own primitives: fgets
// for the pair (3 bytes) and rest-of-line (128 bytes) reads and sscanf "%x"
// for the conversion, over a text-mode copy of the input. The fuzz target
// checks the real reader against it, input by input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/error_code.h"

namespace vantor::fuzzing {

// The text-mode view of raw bytes: CR LF becomes LF, 0x1A ends the text.
inline std::string TextModeCopy(const std::uint8_t* data, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size && data[i] != 0x1A; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    text += static_cast<char>(data[i]);
  }
  return text;
}

inline ErrorCode ModelReadSRecords(std::FILE* f, std::uint8_t* image, std::uint32_t size) {
  char pair[3];
  char line[128];
  auto read_byte = [&](std::uint8_t& out) -> ErrorCode {
    if (std::fgets(pair, sizeof pair, f) == nullptr) return kRecordMissing;
    unsigned value = 0;
    if (std::sscanf(pair, "%x", &value) != 1) return kRecordMalformed;
    out = static_cast<std::uint8_t>(value);
    return kOk;
  };
  for (;;) {
    if (std::fgets(pair, sizeof pair, f) == nullptr) return kRecordMissing;
    if (pair[0] != 'S') return kRecordMalformed;
    int t = pair[1] - 0x30;
    if (t < 0 || t > 9) return kRecordTypeAbnormal;
    if (t == 0) {
      static_cast<void>(std::fgets(line, sizeof line, f));
      continue;
    }
    if (t == 4 || t == 5 || t == 6) return kRecordTypeAbnormal;
    if (t >= 7) return kOk;
    std::uint8_t count = 0;
    if (ErrorCode rc = read_byte(count); rc != kOk) return rc;
    std::uint32_t address = 0;
    for (int i = 0; i < t + 1; ++i) {
      std::uint8_t b = 0;
      if (ErrorCode rc = read_byte(b); rc != kOk) return rc;
      address = (address << 8) | b;
    }
    if (count < t + 2) return kRecordMalformed;
    std::uint64_t n = count - (t + 1) - 1;
    if (address + n > size) return kLoadExceedsImage;
    for (std::uint64_t k = 0; k < n; ++k) {
      if (ErrorCode rc = read_byte(image[address + k]); rc != kOk) return rc;
    }
    if (std::fgets(line, sizeof line, f) == nullptr) return kRecordMissing;
  }
}

}  // namespace vantor::fuzzing
