#include "tests/support/chip_on_fake_line.h"

#include <vector>

namespace vantor::testing {

void ConnectChip(ChipPlayer& chip, FakeTransport& line) {
  chip.SetOutput([&line](const std::uint8_t* bytes, std::size_t count, unsigned delayMs) {
    line.Queue(std::vector<std::uint8_t>(bytes, bytes + count),
               delayMs / FakeTransport::kReadTimeoutMs);
  });
  line.SetScript([&chip](std::uint8_t sent, FakeTransport&) { chip.OnByte(sent); });
  chip.SetLine([&line] { return line.Settings().baudRate; }, [&line] { return line.Now(); });
}

}  // namespace vantor::testing
