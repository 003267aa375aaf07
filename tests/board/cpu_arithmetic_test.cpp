// Arithmetic: results and flags per the programming manual's rules, each
// CCR captured with STC right after the instruction (I stays set: H'80).
#include <gtest/gtest.h>

#include "tests/board/h8_toolchain.h"
#include "tests/board/test_programs.h"

namespace vantor::board::test {
namespace {

std::uint32_t Byte(const TestBoard& b, int reg, bool high) {
  return (b.cpu.er(reg) >> (high ? 8 : 0)) & 0xFF;
}

TEST(CpuArithmetic, AddSetsHalfCarryOverflowCarryPerSize) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kAddFlags);
  // H'7F + 1: H from bit 3, V (two positives give a negative), N.
  EXPECT_EQ(Byte(*b, 0, false), 0x80u);
  EXPECT_EQ(Byte(*b, 1, false), 0xAAu);
  // H'FF + 1 = 0: H, Z and C; no overflow.
  EXPECT_EQ(Byte(*b, 0, true), 0x00u);
  EXPECT_EQ(Byte(*b, 1, true), 0xA5u);
  // ADD.W: H is the carry out of bit 11.
  EXPECT_EQ(b->cpu.er(3) & 0xFFFF, 0x1000u);
  EXPECT_EQ(Byte(*b, 2, true), 0xA0u);
  // ADD.L H'80000000 + H'80000000: Z, V, C.
  EXPECT_EQ(b->cpu.er(5), 0u);
  EXPECT_EQ(Byte(*b, 6, false), 0x87u);
  // ADD.L: H is the carry out of bit 27.
  EXPECT_EQ(b->cpu.er(4), 0x10000000u);
  EXPECT_EQ(Byte(*b, 6, true), 0xA0u);
}

TEST(CpuArithmetic, AddxSubxKeepZeroOnlyWhileTheResultIsZero) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kAddxSubx);
  // 0 + 0 + C = 1: Z cleared though it was set.
  EXPECT_EQ(Byte(*b, 0, false), 1u);
  EXPECT_EQ(Byte(*b, 1, false), 0x80u);
  // A zero result leaves Z as it was: clear stays clear, set stays set.
  EXPECT_EQ(Byte(*b, 1, true), 0x80u);
  EXPECT_EQ(Byte(*b, 2, true), 0x84u);
  // 1 - 1 - C = H'FF: borrow (C), H, N, Z cleared.
  EXPECT_EQ(Byte(*b, 3, false), 0xFFu);
  EXPECT_EQ(Byte(*b, 3, true), 0xA9u);
  EXPECT_EQ(Byte(*b, 4, false), 0u);
  EXPECT_EQ(Byte(*b, 4, true), 0x84u);
}

TEST(CpuArithmetic, SubtractCompareNegate) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kSubCmpNeg);
  // CMP.W H'8000 - 1: overflow, borrow into bit 12 (H); nothing written.
  EXPECT_EQ(b->cpu.er(2) & 0xFFFF, 0x8000u);
  EXPECT_EQ(Byte(*b, 0, false), 0xA2u);
  // SUB.L 0 - 1: C, N and H.
  EXPECT_EQ(b->cpu.er(3), 0xFFFFFFFFu);
  EXPECT_EQ(Byte(*b, 0, true), 0xA9u);
  // NEG.B H'80 stays H'80 with V, N and C.
  EXPECT_EQ(Byte(*b, 4, false), 0x80u);
  EXPECT_EQ(Byte(*b, 4, true), 0x8Bu);
  // NEG of 0: Z, no carry.
  EXPECT_EQ(b->cpu.er(5) >> 16, 0u);
  EXPECT_EQ(Byte(*b, 5, false), 0x84u);
  EXPECT_EQ(Byte(*b, 6, true), 0x84u);  // CMP.B equal
}

TEST(CpuArithmetic, IncDecSetOverflowKeepCarryAddsSubsTouchNoFlag) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kIncDec);
  EXPECT_EQ(Byte(*b, 0, false), 0x80u);
  EXPECT_EQ(Byte(*b, 0, true), 0x8Bu);  // N, V; C kept
  EXPECT_EQ(b->cpu.er(1) & 0xFFFF, 0x7FFFu);
  EXPECT_EQ(Byte(*b, 2, false), 0x83u);  // V; C kept
  EXPECT_EQ(b->cpu.er(3), 0xFFFFFFFFu);
  EXPECT_EQ(Byte(*b, 2, true), 0x89u);  // N, no overflow; C kept
  EXPECT_EQ(b->cpu.er(4), 2u);
  EXPECT_EQ(b->cpu.er(5), 0xFFFFFFFFu);
  EXPECT_EQ(Byte(*b, 6, false), 0x8Fu);  // ADDS/SUBS: unchanged
}

TEST(CpuArithmetic, DecimalAdjust) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kDecimal);
  // H and V are undetermined after DAA/DAS: compare the other bits.
  EXPECT_EQ(Byte(*b, 0, false), 0x42u);  // 15 + 27
  EXPECT_EQ(Byte(*b, 0, true) & ~0x22u, 0x80u);
  EXPECT_EQ(Byte(*b, 1, false), 0x00u);  // 99 + 1 = 1 00
  EXPECT_EQ(Byte(*b, 1, true) & ~0x22u, 0x85u);
  EXPECT_EQ(Byte(*b, 2, false), 0x27u);  // 42 - 15
  EXPECT_EQ(Byte(*b, 2, true) & ~0x22u, 0x80u);
}

TEST(CpuArithmetic, MultiplyResultsFlagsAndStates) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kMultiply);
  EXPECT_EQ(b->cpu.er(0) & 0xFFFF, 0xFE01u);  // H'FF x H'FF, the high byte of Rd ignored
  EXPECT_EQ(b->cpu.er(2) & 0xFFFF, 0xFFFEu);  // -1 x 2
  EXPECT_EQ(Byte(*b, 3, true), 0x88u);        // MULXS: N
  EXPECT_EQ(b->cpu.er(4), 0xFFFE0001u);
  EXPECT_EQ(b->cpu.er(6), 0xFFFFFFFEu);
  // The H8S/2000 CPU: MULXU.B 12, MULXS.B 13, MULXU.W 20, MULXS.W 21.
  EXPECT_EQ(b->trace[2].states, 12u);
  EXPECT_EQ(b->trace[5].states, 13u);
  EXPECT_EQ(b->trace[9].states, 20u);
  EXPECT_EQ(b->trace[12].states, 21u);
}

TEST(CpuArithmetic, DivideQuotientLowRemainderHigh) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kDivide);
  EXPECT_EQ(b->cpu.er(0) & 0xFFFF, 0x0710u);  // 263 / 16 = 16 r 7
  EXPECT_EQ(b->cpu.er(2), 0x0064014Du);       // 100000 / 300 = 333 r 100
  EXPECT_EQ(b->cpu.er(3) & 0xFFFF, 0xFFFDu);  // -7 / 2 = -3 r -1
  EXPECT_EQ(Byte(*b, 4, false), 0x88u);       // negative quotient: N
  EXPECT_EQ(b->cpu.er(5), 0xFF9CFEB3u);       // -100000 / 300 = -333 r -100
  EXPECT_EQ(Byte(*b, 4, true), 0x88u);
  // DIVXU.B 12, DIVXU.W 20, DIVXS one fetch more.
  EXPECT_EQ(b->trace[2].states, 12u);
  EXPECT_EQ(b->trace[5].states, 20u);
  EXPECT_EQ(b->trace[8].states, 13u);
  EXPECT_EQ(b->trace[12].states, 21u);
}

TEST(CpuArithmetic, DivideByZeroSetsZ) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kDivideByZero);
  EXPECT_EQ(b->cpu.ccr(), 0x84);  // Z: zero divisor; N: divisor not negative
  EXPECT_EQ(b->cpu.er(0) & 0xFFFF, 0x1234u);
  EXPECT_EQ(b->cpu.stopReason(), StopReason::kSleep);
}

TEST(CpuArithmetic, ExtendAndTestAndSet) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kExtendTas);
  EXPECT_EQ(b->cpu.er(0) & 0xFFFF, 0x00F0u);
  EXPECT_EQ(b->cpu.er(1) & 0xFFFF, 0xFFF0u);
  EXPECT_EQ(Byte(*b, 6, false), 0x88u);
  EXPECT_EQ(b->cpu.er(2), 0xFFFF8000u);
  EXPECT_EQ(b->cpu.er(3), 0x00008001u);
  EXPECT_EQ(Byte(*b, 6, true), 0x84u);   // TAS: flags from the byte before
  EXPECT_EQ(Byte(*b, 5, false), 0x80u);  // ... and bit 7 set afterwards
  EXPECT_EQ(b->trace[10].states, 4u);    // 2 fetches, read and write
}

}  // namespace
}  // namespace vantor::board::test
