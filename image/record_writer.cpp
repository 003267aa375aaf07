#include "image/record_writer.h"

#include <algorithm>

namespace vantor {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, std::uint8_t byte) {
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
}

int NarrowestType(std::uint32_t last_address) {
  if (last_address <= 0xFFFF) return 1;
  if (last_address <= 0xFFFFFF) return 2;
  return 3;
}

bool AllBlank(const std::uint8_t* data, std::uint32_t length) {
  return std::all_of(data, data + length, [](std::uint8_t b) { return b == 0xFF; });
}

// One S-record line: type, count, address (type + 1 bytes), data, checksum.
void AppendSRecord(std::string& out, int type, std::uint32_t address, const std::uint8_t* data,
                   std::uint32_t length) {
  int address_bytes = type == 0 ? 2 : (type <= 3 ? type + 1 : 11 - type);
  auto count = static_cast<std::uint8_t>(address_bytes + length + 1);
  unsigned sum = count;
  out += 'S';
  out += static_cast<char>('0' + type);
  AppendHex(out, count);
  for (int i = address_bytes - 1; i >= 0; --i) {
    auto b = static_cast<std::uint8_t>(address >> (8 * i));
    sum += b;
    AppendHex(out, b);
  }
  for (std::uint32_t i = 0; i < length; ++i) {
    sum += data[i];
    AppendHex(out, data[i]);
  }
  AppendHex(out, static_cast<std::uint8_t>(~sum));
  out += '\n';
}

}  // namespace

std::string FormatSRecords(const std::uint8_t* image, std::uint32_t size,
                           const RecordWriterOptions& options) {
  std::string out;
  out.reserve(static_cast<std::size_t>(size) / options.data_bytes * (options.data_bytes * 2 + 16));
  if (!options.header.empty()) {
    std::uint32_t length =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(options.header.size()), 59);
    AppendSRecord(out, 0, 0, reinterpret_cast<const std::uint8_t*>(options.header.data()), length);
  }
  int widest = options.type == 0 ? 1 : options.type;
  for (std::uint32_t address = 0; address < size; address += options.data_bytes) {
    std::uint32_t length = std::min(options.data_bytes, size - address);
    if (options.skip_blank && AllBlank(image + address, length)) continue;
    int type = options.type == 0 ? NarrowestType(address + length - 1) : options.type;
    widest = std::max(widest, type);
    AppendSRecord(out, type, address, image + address, length);
  }
  AppendSRecord(out, 10 - widest, 0, nullptr, 0);  // S9, S8 or S7
  return out;
}

std::string FormatPackedRecords(const std::uint8_t* image, std::uint32_t size,
                                const RecordWriterOptions& options) {
  std::string out;
  out.reserve(static_cast<std::size_t>(size) / options.data_bytes * (options.data_bytes + 9));
  for (std::uint32_t address = 0; address < size; address += options.data_bytes) {
    std::uint32_t length = std::min(options.data_bytes, size - address);
    if (options.skip_blank && AllBlank(image + address, length)) continue;
    auto count = static_cast<std::uint8_t>(4 + length + 1);
    unsigned sum = count;
    out += 'S';
    out += '\x03';
    out += static_cast<char>(count);
    for (int i = 3; i >= 0; --i) {
      auto b = static_cast<std::uint8_t>(address >> (8 * i));
      sum += b;
      out += static_cast<char>(b);
    }
    for (std::uint32_t i = 0; i < length; ++i) {
      sum += image[address + i];
      out += static_cast<char>(image[address + i]);
    }
    out += static_cast<char>(static_cast<std::uint8_t>(~sum));
    out += '\n';
  }
  out += "S\x07\n";
  return out;
}

}  // namespace vantor
