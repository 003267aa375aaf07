// Logic, shifts, rotates and bit instructions: results, flags and states.
#include <gtest/gtest.h>

#include "tests/board/h8_toolchain.h"
#include "tests/board/test_programs.h"

namespace vantor::board::test {
namespace {

std::uint32_t Byte(const TestBoard& b, int reg, bool high) {
  return (b.cpu.er(reg) >> (high ? 8 : 0)) & 0xFF;
}

TEST(CpuLogic, AndOrXorNotSetNzClearVKeepC) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kLogic);
  EXPECT_EQ(Byte(*b, 0, false), 0x03u);
  EXPECT_EQ(Byte(*b, 0, true), 0x81u);
  EXPECT_EQ(b->cpu.er(1) & 0xFFFF, 0x80F1u);
  EXPECT_EQ(Byte(*b, 3, false), 0x89u);
  EXPECT_EQ(b->cpu.er(4), 0u);
  EXPECT_EQ(Byte(*b, 3, true), 0x85u);
  EXPECT_EQ(b->cpu.er(5), 0xF0F0F0F0u);
  EXPECT_EQ(b->cpu.er(6), 0xF0F00000u);
}

TEST(CpuLogic, ShiftsOneAndTwoBits) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kShifts);
  // SHAL: V when the sign changes on any of the shifts.
  EXPECT_EQ(Byte(*b, 0, false), 0x80u);
  EXPECT_EQ(Byte(*b, 0, true), 0x8Au);
  EXPECT_EQ(Byte(*b, 1, false), 0x80u);
  EXPECT_EQ(Byte(*b, 1, true), 0x8Au);
  // SHAL.W #2 of H'C000: C is the second bit out, Z, V on the second shift.
  EXPECT_EQ(b->cpu.er(2) & 0xFFFF, 0u);
  EXPECT_EQ(Byte(*b, 6, false), 0x87u);
  // SHAR keeps the sign; C is the bit out.
  EXPECT_EQ(Byte(*b, 3, false), 0xC0u);
  EXPECT_EQ(Byte(*b, 3, true), 0x89u);
  // SHLR.L #2 of 3: C from bit 1, Z.
  EXPECT_EQ(Byte(*b, 6, true), 0x85u);
  EXPECT_EQ(b->cpu.er(5) & 0xFFFF, 0x0002u);
  EXPECT_EQ(Byte(*b, 4, false), 0x81u);
}

TEST(CpuLogic, RotatesWithAndWithoutCarry) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kRotates);
  EXPECT_EQ(Byte(*b, 0, false), 0x03u);
  EXPECT_EQ(Byte(*b, 0, true), 0x81u);
  EXPECT_EQ(b->cpu.er(1) & 0xFFFF, 0x4000u);
  EXPECT_EQ(Byte(*b, 2, false), 0x80u);
  EXPECT_EQ(Byte(*b, 3, false), 0x00u);  // the carry (0) comes in, bit 7 goes to C
  EXPECT_EQ(Byte(*b, 3, true), 0x85u);
  EXPECT_EQ(b->cpu.er(4), 0xC0000000u);  // C = 1 comes in twice
  EXPECT_EQ(Byte(*b, 2, true), 0x88u);
}

TEST(CpuLogic, BitInstructionsOnRegisters) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kBitRegister);
  EXPECT_EQ(Byte(*b, 6, false), 0x80u);  // BSET #7
  EXPECT_EQ(Byte(*b, 6, true), 0x00u);   // BCLR with the bit number in a register
  // BLD 1; BAND 0 -> 0; BOR 1 -> 1; BXOR 1 -> 0; BIXOR not 0 -> 1; BIAND not 1
  // -> 0; BIOR not 0 -> 1; BILD not 1 -> 0; BIST #1 stores 1; BST #2
  // stores 0; BNOT #3 inverts.
  EXPECT_EQ(Byte(*b, 0, false), 0x8Au);
  EXPECT_EQ(Byte(*b, 2, false), 0x88u);  // BTST of a 1: Z clear (N from the MOV)
  EXPECT_EQ(Byte(*b, 2, true), 0x8Cu);   // BTST of a 0: Z set
  EXPECT_EQ(b->cpu.ccr() & kCcrC, 0);
}

TEST(CpuLogic, BitInstructionsOnMemoryAndPeripheralsCountTheirAccesses) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kBitMemory, 0x80, [](TestBoard& t) { t.io[0x111] = 0xFF; });
  EXPECT_EQ(Byte(*b, 0, false), 0x80u);  // BTST found bit 1 set
  EXPECT_EQ(Byte(*b, 0, true), 0x80u);
  EXPECT_EQ(b->io[0x110], 0x08);
  EXPECT_EQ(b->io[0x111], 0xFE);         // BIST stored NOT C (C = 1 from BLD)
  EXPECT_EQ(Byte(*b, 2, false), 0x63u);  // H'80 +0 +1 -7, then bits 5 and 6
  // @ERd read-modify-write: 2 fetches + read + write; BTST: 2 + read.
  EXPECT_EQ(b->trace[1].states, 4u);
  EXPECT_EQ(b->trace[4].states, 3u);
  // A peripheral register costs 2 states per access.
  EXPECT_EQ(b->trace[6].states, 6u);
  EXPECT_EQ(b->trace[7].states, 4u);
  // @aa:16 and @aa:32 forms: one and two fetches more.
  EXPECT_EQ(b->trace[9].states, 5u);
  EXPECT_EQ(b->trace[10].states, 6u);
  EXPECT_EQ(b->trace[11].states, 5u);
  EXPECT_EQ(b->trace[12].states, 6u);
}

}  // namespace
}  // namespace vantor::board::test
