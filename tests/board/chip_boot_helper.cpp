#include "tests/board/chip_boot_helper.h"

namespace vantor::board::testing {

std::optional<std::uint8_t> Exchange(H8s2215Chip& chip, std::uint8_t byte, double micros) {
  chip.HostSend(byte);
  chip.RunForMicroseconds(micros, true);
  std::uint8_t answer = 0;
  if (!chip.HostReceive(answer)) return std::nullopt;
  return answer;
}

bool BootInto(H8s2215Chip& chip, const std::vector<std::uint8_t>& program) {
  const auto length = static_cast<std::uint16_t>(program.size());
  if (Exchange(chip, 0x00) != 0x00 || Exchange(chip, 0x55) != 0xAA) return false;
  if (Exchange(chip, static_cast<std::uint8_t>(length >> 8)) != length >> 8) return false;
  if (Exchange(chip, static_cast<std::uint8_t>(length)) != (length & 0xFF)) return false;
  for (std::size_t i = 0; i + 1 < program.size(); ++i) {
    if (Exchange(chip, program[i]) != program[i]) return false;
  }
  // The last echo and the erase-complete byte; the erase may take a while.
  chip.HostSend(program.back());
  std::uint8_t answer = 0;
  for (int wait = 0; wait < 300 && !chip.HostReceive(answer); ++wait) {
    chip.RunForMicroseconds(10000, true);
  }
  if (answer != program.back()) return false;
  for (int wait = 0; wait < 3000 && !chip.HostReceive(answer); ++wait) {
    chip.RunForMicroseconds(10000, true);
  }
  return answer == 0xAA;
}

}  // namespace vantor::board::testing
