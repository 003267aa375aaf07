// The clock parameter table the writer carries, walked by the writer's own
// clock set-up for the slowest and fastest clocks the program supports: each
// value the program receives must still mean its G microseconds, that is, no
// value may have lost bits to the byte masks of its kind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "link/clock_setup.h"
#include "link/descrambler.h"
#include "link/embedded_data.h"
#include "tests/support/chip_on_fake_line.h"

namespace vantor {
namespace {

using testing::ChipOnFakeLine;
using testing::ChipPlayer;

struct Entry {
  unsigned kind, g;
  std::uint32_t destination;
};

std::vector<Entry> CarriedTable() {
  std::vector<Entry> out;
  ResetDescrambler();
  for (unsigned entry = 0; entry < 64; ++entry) {
    std::uint8_t e[8];
    for (unsigned i = 0; i < 8; ++i) e[i] = DescrambleByte(kEmbeddedData[entry * 8 + i]);
    const unsigned kind = e[0] << 8 | e[1];
    if (kind == 0xFFFF) break;
    out.push_back({kind, static_cast<unsigned>(e[2] << 8 | e[3]),
                   static_cast<std::uint32_t>(e[4]) << 24 | e[5] << 16 | e[6] << 8 | e[7]});
  }
  return out;
}

unsigned ValueBytes(unsigned kind) {
  return kind == 1 || kind == 17 ? 2 : 1;
}

// Runs the writer's clock set-up against a chip that reports F x 9600 Hz
// (m = 0, k = 0) and returns the value each table entry delivered.
std::vector<std::uint32_t> DeliveredValues(const std::vector<Entry>& table, std::uint16_t f) {
  ChipPlayer::Options options;
  options.programRunning = true;
  options.clockReply[0] = 0;
  options.clockReply[1] = 0;
  options.clockReply[2] = static_cast<std::uint8_t>(f >> 8);
  options.clockReply[3] = static_cast<std::uint8_t>(f);
  ChipOnFakeLine s(options);
  EXPECT_EQ(SetupClockParameters(), kOk);
  const std::vector<ChipPlayer::ParameterWrite> writes = s.chip.ParameterWrites();

  std::vector<std::uint32_t> values;
  std::size_t next = 0;
  for (const Entry& entry : table) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < ValueBytes(entry.kind); ++i, ++next) {
      if (next >= writes.size()) {
        ADD_FAILURE() << "fewer parameter writes than the table needs";
        return values;
      }
      const auto& write = writes[next];
      EXPECT_EQ(write.d3, static_cast<std::uint8_t>(entry.destination + i));
      value = value << 8 | write.value;
    }
    values.push_back(value);
  }
  EXPECT_EQ(next, writes.size());
  return values;
}

TEST(ClockTableTest, ListsTheProgramsTimingsOfKindsItUses) {
  const std::vector<Entry> table = CarriedTable();
  ASSERT_EQ(table.size(), 13u);  // eleven waits, the bit time and the watchdog
  for (const Entry& entry : table) {
    EXPECT_TRUE(entry.kind == 1 || entry.kind == 17 || entry.kind == 32) << entry.kind;
    // Inside the program, and a two-byte value inside one 256-byte window.
    EXPECT_LT(entry.destination + ValueBytes(entry.kind), 932u);
    EXPECT_LE((entry.destination & 0xFF) + ValueBytes(entry.kind), 0x100u);
  }
}

// 1,996,800 Hz and 19,996,800 Hz: the ends of the 2-20 MHz range.
TEST(ClockTableTest, EveryValueKeepsItsMeaningAcrossTheClockRange) {
  const std::vector<Entry> table = CarriedTable();
  for (const std::uint16_t f : {std::uint16_t{208}, std::uint16_t{2083}}) {
    const double hz = 9600.0 * f;
    const std::vector<std::uint32_t> values = DeliveredValues(table, f);
    ASSERT_EQ(values.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
      const double states = table[i].g * hz / 1e6;  // the states G microseconds take
      const std::uint32_t v = values[i];
      if (table[i].kind == 32) {
        // Started at v, the counter overflows after 256 - v ticks of 512
        // states: G microseconds rounded to a tick, plus one tick of margin.
        EXPECT_LE(v, 254u) << "G " << table[i].g << " at " << hz;
        EXPECT_NEAR((255.0 - v) * 512, states, 256.5) << "G " << table[i].g << " at " << hz;
      } else if (table[i].kind == 17) {
        // Turns of three states in one bit time at 9600 bit/s.
        EXPECT_NEAR(3.0 * v, hz / 9600, 1.5) << "at " << hz;
      } else if (states < 4.5) {
        EXPECT_EQ(v, 1u) << "G " << table[i].g << " at " << hz;  // shortest loop
      } else {
        // A pulse or wait of v turns lasts 3 (v + 1) states.
        EXPECT_NEAR(3.0 * (v + 1), states, 1.5) << "G " << table[i].g << " at " << hz;
      }
    }
  }
}

}  // namespace
}  // namespace vantor
