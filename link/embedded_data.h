// The embedded target data, stored scrambled (descrambler.h): the 512-byte
// clock parameter table, then the write-control program. Generated into
// embedded_data.cpp by firmware/tools/make_embedded_data.
#pragma once

#include <cstdint>

namespace vantor {

inline constexpr std::uint32_t kEmbeddedDataSize = 1444;

extern const std::uint8_t kEmbeddedData[kEmbeddedDataSize];

}  // namespace vantor
