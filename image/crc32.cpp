#include "image/crc32.h"

namespace vantor {
namespace {

struct Crc32Table {
  std::uint32_t entry[256];
  constexpr Crc32Table() : entry() {
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entry[n] = c;
    }
  }
};
constexpr Crc32Table kTable;

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length, std::uint32_t crc) {
  crc = ~crc;
  for (std::size_t i = 0; i < length; ++i) crc = kTable.entry[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

}  // namespace vantor
