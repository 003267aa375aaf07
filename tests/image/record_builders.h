// Builders for well-formed load-file records, so a test states only the
// part of a record it is about.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vantor::testing {

// One S-record line "S<type><count><address><data><checksum>\n" with the
// count and checksum right for what it holds. Address width follows the type.
inline std::string SRecord(int type, std::uint32_t address, const std::vector<std::uint8_t>& data) {
  int address_bytes = (type == 2 || type == 8) ? 3 : (type == 3 || type == 7) ? 4 : 2;
  std::vector<std::uint8_t> body;
  body.push_back(static_cast<std::uint8_t>(address_bytes + data.size() + 1));
  for (int i = address_bytes - 1; i >= 0; --i) body.push_back((address >> (8 * i)) & 0xFF);
  body.insert(body.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (std::uint8_t b : body) sum += b;
  body.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
  std::string line = "S";
  line += static_cast<char>('0' + type);
  char hex[3];
  for (std::uint8_t b : body) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\n";
}

inline std::string SEnd() {
  return "S9030000FC\n";
}

// One packed data record: 0x53 0x03 L address(4) data trailer 0x0A.
inline std::string PackedData(std::uint32_t address, const std::vector<std::uint8_t>& data,
                              std::uint8_t trailer = 0x00) {
  std::string r = "S";
  r += '\x03';
  r += static_cast<char>(data.size() + 5);
  for (int i = 3; i >= 0; --i) r += static_cast<char>((address >> (8 * i)) & 0xFF);
  for (std::uint8_t b : data) r += static_cast<char>(b);
  r += static_cast<char>(trailer);
  r += '\n';
  return r;
}

inline std::string PackedEnd() {
  return std::string("S\x07\n", 3);
}
inline std::string PackedHeader() {
  return std::string("S\x00\n", 3);
}

}  // namespace vantor::testing
