// The boot ROM's serial boot mode on the chip, driven byte by byte from the
// host's end of the line.
#include "board/boot_rom.h"

#include <gtest/gtest.h>

#include <optional>

#include "board/h8s2215_chip.h"
#include "tests/board/chip_boot_helper.h"

namespace vantor::board {
namespace {

namespace d = device;

using testing::Exchange;

// Bit-rate adjustment, handshake and length, each answered right.
void Announce(H8s2215Chip& chip, std::uint16_t length) {
  ASSERT_EQ(Exchange(chip, 0x00), 0x00);
  ASSERT_EQ(Exchange(chip, 0x55), 0xAA);
  ASSERT_EQ(Exchange(chip, static_cast<std::uint8_t>(length >> 8)), length >> 8);
  ASSERT_EQ(Exchange(chip, static_cast<std::uint8_t>(length)), length & 0xFF);
}

TEST(BootRomTest, ChoosesTheSmallestClockSelectWhoseBrrFits) {
  struct Case {
    double clockHz;
    std::uint32_t baud;
    std::uint8_t cks, brr;
  };
  for (const Case& c :
       {Case{19968000, 9600, 0, 64}, Case{4000000, 9600, 0, 12}, Case{10000000, 9600, 0, 32},
        Case{16000000, 9600, 0, 51}, Case{19968000, 1200, 1, 129}}) {
    std::uint8_t cks = 9, brr = 0;
    ASSERT_TRUE(ChooseBitRate(c.clockHz / c.baud, cks, brr)) << c.clockHz;
    EXPECT_EQ(cks, c.cks) << c.clockHz;
    EXPECT_EQ(brr, c.brr) << c.clockHz;
  }
  std::uint8_t cks = 0, brr = 0;
  EXPECT_FALSE(ChooseBitRate(2000000.0 / 9600, cks, brr));  // 7.5 % off at best
}

TEST(BootRomTest, LoadsTheProgramErasesAndStartsIt) {
  H8s2215Chip chip;
  chip.Flash().Contents()[0x1234] = 0x00;  // programmed: the erase must run
  chip.SetEraseMicroseconds(250000);
  chip.PowerOnBootMode();
  Announce(chip, 16);
  EXPECT_EQ(chip.BootSci().Read(d::kSciBrr, chip.Now()), 64);
  EXPECT_EQ(chip.BootSci().Read(d::kSciSmr, chip.Now()) & 3, 0);
  // BRA to itself, then bytes that are never run.
  std::uint8_t program[16] = {0x40, 0xFE};
  for (unsigned i = 2; i < 16; ++i) program[i] = static_cast<std::uint8_t>(0xE0 + i);
  for (std::uint8_t byte : program) ASSERT_EQ(Exchange(chip, byte), byte);
  const States echoed = chip.Now();
  std::uint8_t answer = 0;
  chip.RunForMicroseconds(200000, true);
  EXPECT_FALSE(chip.HostReceive(answer));  // still erasing
  chip.RunForMicroseconds(100000, true);
  ASSERT_TRUE(chip.HostReceive(answer));
  EXPECT_EQ(answer, 0xAA);
  EXPECT_GE(StatesToNs(chip.Now() - echoed, d::kDefaultClockHz), 250e6);
  EXPECT_TRUE(chip.Flash().IsBlank());
  for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(chip.Ram()[i], program[i]);
  EXPECT_TRUE(chip.CpuRunning());
  EXPECT_EQ(chip.Core().pc(), d::kDefaultLoadAddress);
  EXPECT_EQ(chip.Core().er(7), d::kInitialStackPointer);
  EXPECT_TRUE(chip.Core().ccr() & kCcrI);
}

TEST(BootRomTest, BlankFlashSkipsTheEraseAndTheLoadAddressIsConfigurable) {
  H8s2215Chip chip;
  chip.SetLoadAddress(0xFFC000);
  chip.PowerOnBootMode();
  Announce(chip, 2);
  ASSERT_EQ(Exchange(chip, 0x12), 0x12);
  ASSERT_EQ(Exchange(chip, 0x34), 0x34);
  std::uint8_t answer = 0;
  chip.RunForMicroseconds(5000, true);
  ASSERT_TRUE(chip.HostReceive(answer));
  EXPECT_EQ(answer, 0xAA);
  EXPECT_EQ(chip.Ram()[0xC000 - 0xB000], 0x12);
  EXPECT_EQ(chip.Ram()[0xC001 - 0xB000], 0x34);
}

TEST(BootRomTest, RefusesAProgramThatDoesNotFit) {
  H8s2215Chip chip;
  chip.SetLoadAddress(d::kRamEnd - 1024);
  chip.PowerOnBootMode();
  ASSERT_EQ(Exchange(chip, 0x00), 0x00);
  ASSERT_EQ(Exchange(chip, 0x55), 0xAA);
  ASSERT_EQ(Exchange(chip, 0x03), 0x03);
  EXPECT_EQ(Exchange(chip, 0xA4), d::kBootRefusal);  // 932 bytes reach into the stack
  EXPECT_EQ(Exchange(chip, 0x00), std::nullopt);     // and it listens no more
  EXPECT_EQ(chip.Boot().CurrentPhase(), BootRom::Phase::kStopped);
}

TEST(BootRomTest, FlashThatWillNotEraseIsReportedWithFf) {
  H8s2215Chip chip;
  chip.SetEraseMicroseconds(1000);
  chip.Flash().Contents()[0x20000] = 0x7F;
  chip.Flash().NeverErases(0x20000);
  chip.PowerOnBootMode();
  Announce(chip, 1);
  ASSERT_EQ(Exchange(chip, 0x0B), 0x0B);
  std::uint8_t answer = 0;
  chip.RunForMicroseconds(5000, true);
  ASSERT_TRUE(chip.HostReceive(answer));
  EXPECT_EQ(answer, d::kBootRefusal);
  EXPECT_FALSE(chip.CpuRunning());
}

TEST(BootRomTest, NoAnswerWhenNoBitRateFitsTheClock) {
  H8s2215Chip chip(ChipOptions{2000000, d::kDefaultLoadAddress, 1000});
  EXPECT_EQ(Exchange(chip, 0x00), std::nullopt);
  EXPECT_EQ(chip.Boot().CurrentPhase(), BootRom::Phase::kBitRate);
}

TEST(BootRomTest, PowerOnAgainReturnsToTheBitRateAdjustment) {
  H8s2215Chip chip;
  Announce(chip, 4);
  chip.PowerOnBootMode();
  EXPECT_EQ(Exchange(chip, 0x55), std::nullopt);  // not yet adjusted: the 0x55 goes unheard
  EXPECT_EQ(Exchange(chip, 0x00), 0x00);
}

}  // namespace
}  // namespace vantor::board
