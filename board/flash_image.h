// The board's flash as a file: a 256 KiB image, byte i for address i.
#pragma once

#include <string>

#include "board/h8s2215_chip.h"

namespace vantor::board {

// Writes the whole flash; false on an I/O failure.
bool SaveFlash(const H8s2215Chip& chip, const std::string& path);
// Reads up to 256 KiB into the flash from address 0 on (the rest keeps its
// contents); false when the file cannot be read or is empty.
bool LoadFlash(H8s2215Chip& chip, const std::string& path);

}  // namespace vantor::board
