#include "board/flash_image.h"

#include <cstdio>

namespace vantor::board {

bool SaveFlash(const H8s2215Chip& chip, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const auto& cells = chip.Flash().Contents();
  const bool written = std::fwrite(cells.data(), 1, cells.size(), file) == cells.size();
  return std::fclose(file) == 0 && written;
}

bool LoadFlash(H8s2215Chip& chip, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  auto& cells = chip.Flash().Contents();
  const std::size_t read = std::fread(cells.data(), 1, cells.size(), file);
  std::fclose(file);
  return read > 0;
}

}  // namespace vantor::board
