// The bus: regions, overlays, device callbacks, and the states each access
// costs.
#include "board/memory_bus.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantor::board {
namespace {

class Recorder : public Device {
 public:
  std::uint8_t Read8(std::uint32_t address) override {
    log.push_back("r8 " + std::to_string(address));
    return static_cast<std::uint8_t>(address);
  }
  void Write8(std::uint32_t address, std::uint8_t value) override {
    log.push_back("w8 " + std::to_string(address) + "=" + std::to_string(value));
  }
  std::vector<std::string> log;
};

class WordDevice : public Recorder {
 public:
  std::uint16_t Read16(std::uint32_t address) override {
    log.push_back("r16 " + std::to_string(address));
    return 0xBEEF;
  }
};

TEST(MemoryBus, PlainMemoryIsBigEndianAndCostsItsStates) {
  MemoryBus bus;
  std::vector<std::uint8_t> ram(0x1000);
  bus.Map(Region{"ram", 0xFFB000, 0x1000, ram.data(), true, nullptr, 1, 16});
  bus.Write32(0xFFB010, 0x11223344);
  EXPECT_EQ(ram[0x10], 0x11);
  EXPECT_EQ(ram[0x13], 0x44);
  EXPECT_EQ(bus.Read16(0xFFB012), 0x3344);
  EXPECT_EQ(bus.Read16(0xFFB013), 0x3344);  // address bit 0 ignored for words
  EXPECT_EQ(bus.Read8(0xFFB013), 0x44);
  // Write32 = 2 word accesses, then 2 word reads and a byte read.
  EXPECT_EQ(bus.TakeAccessStates(), 5u);
  EXPECT_EQ(bus.TakeAccessStates(), 0u);
}

TEST(MemoryBus, ReadOnlyMemoryHandsWritesToItsDevice) {
  MemoryBus bus;
  std::vector<std::uint8_t> flash(0x40000, 0xFF);
  Recorder controller;
  bus.Map(Region{"flash", 0, 0x40000, flash.data(), false, &controller, 1, 16});
  bus.Write8(0x100, 0x12);
  EXPECT_EQ(flash[0x100], 0xFF);  // unchanged: the controller decides
  ASSERT_EQ(controller.log.size(), 1u);
  EXPECT_EQ(controller.log[0], "w8 256=18");
  EXPECT_EQ(bus.Read8(0x100), 0xFF);  // reads never reach the device
  EXPECT_EQ(controller.log.size(), 1u);
}

TEST(MemoryBus, DevicesAndEightBitWidthCostMore) {
  MemoryBus bus;
  Recorder narrow;
  WordDevice wide;
  bus.Map(Region{"io8", 0xFFFE00, 0x100, nullptr, false, &narrow, 2, 8});
  bus.Map(Region{"io16", 0xFFFF00, 0x100, nullptr, false, &wide, 2, 16});
  bus.TakeAccessStates();
  EXPECT_EQ(bus.Read16(0xFFFE10), 0x1011);  // two byte reads, high first
  EXPECT_EQ(bus.TakeAccessStates(), 4u);    // 8-bit region: a word is 2 accesses
  EXPECT_EQ(bus.Read16(0xFFFF10), 0xBEEF);
  EXPECT_EQ(bus.TakeAccessStates(), 2u);
  EXPECT_EQ(wide.log.back(), "r16 " + std::to_string(0xFFFF10));
  bus.Write16(0xFFFE20, 0xABCD);
  ASSERT_GE(narrow.log.size(), 2u);
  EXPECT_EQ(narrow.log[narrow.log.size() - 2], "w8 " + std::to_string(0xFFFE20) + "=171");
  EXPECT_EQ(bus.Peek8(0xFFFE05), 0x05);
}

TEST(MemoryBus, LaterRegionsOverlayEarlierOnesUntilUnmapped) {
  MemoryBus bus;
  std::vector<std::uint8_t> flash(0x1000, 0x5A);
  Recorder verify;
  bus.Map(Region{"flash", 0, 0x1000, flash.data(), true, nullptr, 1, 16});
  bus.Map(Region{"verify", 0x80, 0x80, nullptr, false, &verify, 1, 16});  // part of a page
  EXPECT_EQ(bus.Read8(0x7F), 0x5A);
  EXPECT_EQ(bus.Read8(0x81), 0x81);  // the device answers
  EXPECT_EQ(bus.Read8(0x100), 0x5A);
  bus.Unmap("verify");
  EXPECT_EQ(bus.Read8(0x81), 0x5A);
  EXPECT_EQ(bus.RegionAt(0x81)->name, "flash");
}

TEST(MemoryBus, UnmappedAccessesAreCountedAndReadOnes) {
  MemoryBus bus;
  EXPECT_EQ(bus.Read8(0x123456), 0xFF);
  bus.Write8(0x123456, 0);
  EXPECT_EQ(bus.unmappedAccesses(), 2u);
  EXPECT_EQ(bus.RegionAt(0x123456), nullptr);
}

}  // namespace
}  // namespace vantor::board
