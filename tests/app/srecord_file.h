// Writes S-record files for the tests: S3 data records of up to 16 bytes and
// an S7 end record.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vantor::testing {

// Data to load: start address -> bytes.
using ImageData = std::map<std::uint32_t, std::vector<std::uint8_t>>;

inline void WriteSRecord(std::FILE* file, char type, std::uint32_t address,
                         const std::uint8_t* data, std::size_t count) {
  const unsigned length = static_cast<unsigned>(4 + count + 1);
  unsigned sum = length;
  std::fprintf(file, "S%c%02X%08X", type, length, static_cast<unsigned>(address));
  for (int shift = 24; shift >= 0; shift -= 8) sum += (address >> shift) & 0xFFu;
  for (std::size_t i = 0; i < count; ++i) {
    std::fprintf(file, "%02X", data[i]);
    sum += data[i];
  }
  std::fprintf(file, "%02X\n", ~sum & 0xFFu);
}

inline std::string WriteMotFile(const std::filesystem::path& path, const ImageData& data) {
  std::FILE* file = std::fopen(path.string().c_str(), "w");
  if (file == nullptr) return {};
  for (const auto& [start, bytes] : data) {
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
      const std::size_t count = bytes.size() - at < 16 ? bytes.size() - at : 16;
      WriteSRecord(file, '3', start + static_cast<std::uint32_t>(at), bytes.data() + at, count);
    }
  }
  WriteSRecord(file, '7', 0, nullptr, 0);
  std::fclose(file);
  return path.string();
}

// One 128-byte block of recognisable, non-blank bytes.
inline std::vector<std::uint8_t> BlockPattern(std::uint32_t address) {
  std::vector<std::uint8_t> bytes(128);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>((address >> 7) * 31 + i * 7);
  }
  if (bytes[0] == 0xFF) bytes[0] = 0x00;  // never a blank block
  return bytes;
}

// A fresh directory under the system's temporary directory.
inline std::filesystem::path MakeScratchDirectory(const std::string& name) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const auto dir =
      std::filesystem::temp_directory_path() / ("vantor-" + name + "-" + std::to_string(stamp));
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace vantor::testing
