// The host's copy of the whole target flash, and the loader that fills it.
#pragma once

#include <cstdint>

#include "common/error_code.h"
#include "image/srecord_reader.h"

namespace vantor {

inline constexpr std::uint32_t kLoadImageSize = 0x40000;  // 256 KiB, the flash

// Byte i is the value for flash address i; 0xFF is erased flash.
extern std::uint8_t LoadImage[kLoadImageSize];

// Sets image[0..size) to 0xFF, then reads `path` into it with the reader its
// extension names: the four characters from the last '.' of the whole path,
// ".mot" (S-records) or ".qpf" (packed records), in any letter case.
// Returns 0 or 100-105; 105 opens no file. LastChecksumReport() then tells
// how many S-records had a wrong checksum (none for packed record files,
// whose trailer byte is not a checksum).
ErrorCode LoadFile(const char* path, std::uint8_t* image, std::uint32_t size);

}  // namespace vantor
