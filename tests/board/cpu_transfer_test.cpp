// Data transfer: MOV in every addressing mode, the stack instructions and
// EEPMOV; results, flags and states worked out from the programming manual.
// States on this board: 1 per ROM/RAM access, 2 per peripheral register
// access, so an instruction costs I fetches + its data accesses + N internal.
#include <gtest/gtest.h>

#include "tests/board/h8_toolchain.h"
#include "tests/board/test_programs.h"

namespace vantor::board::test {
namespace {

TEST(CpuTransfer, MoveAddressingModesResultsAndStates) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kMoveModes);
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  const std::uint32_t data = b->cpu.er(1);
  EXPECT_EQ(b->cpu.er(0) & 0xFF, 0x11u);        // @ERn
  EXPECT_EQ(b->cpu.er(2) & 0xFFFF, 0x2233u);    // @(d:16,ERn)
  EXPECT_EQ(b->cpu.er(3), 0x44556677u);         // @(d:32,ERn), longword
  EXPECT_EQ(b->cpu.er(5) & 0xFFFF, 0x8899u);    // @ERn+ reads, then adds 2
  EXPECT_EQ(b->cpu.er(4), data + 9);            // ... and @-ERn takes 1 back
  EXPECT_EQ(b->bus.Peek8(data + 9), 0x11);      // written through @-ERn
  EXPECT_EQ(b->cpu.er(6) & 0xFF, 0x11u);        // @aa:16, sign-extended to H'FFxxxx
  EXPECT_EQ(b->bus.Peek16(data + 12), 0x2233);  // @aa:32 store
  EXPECT_EQ((b->cpu.er(6) >> 8) & 0xFF, 0x80u);
  // MOV: N from the value's sign, Z clear, V cleared, C kept (clear here).
  EXPECT_EQ(b->cpu.ccr(), 0x88);
  // I + L/M + N per the instruction table:
  ASSERT_GE(b->trace.size(), 10u);
  const unsigned expected[] = {
      3,  // MOV.L #xx:32,ERd: 3 fetches
      2,  // MOV.B @ERs,Rd: 1 fetch + 1 byte read
      3,  // MOV.W @(d:16,ERs),Rd: 2 + 1
      7,  // MOV.L @(d:32,ERs),ERd: 5 fetches + 2 word reads
      3,  // MOV.L #xx:32
      3,  // MOV.W @ERs+,Rd: 1 + 1 + 1 internal
      3,  // MOV.B Rs,@-ERd: 1 + 1 + 1 internal
      3,  // MOV.B @aa:16,Rd: 2 + 1
      4,  // MOV.W Rs,@aa:32: 3 + 1
      1,  // MOV.B #xx:8,Rd
  };
  for (unsigned i = 0; i < std::size(expected); ++i)
    EXPECT_EQ(b->trace[i].states, expected[i]) << "instruction " << i;
}

TEST(CpuTransfer, MoveSetsNegativeClearsOverflowKeepsCarry) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kMoveFlags, 0x83);  // I, V and C set before
  EXPECT_EQ(b->cpu.er(1) & 0xFF, 0x80u);
  EXPECT_EQ(b->cpu.ccr(), 0x89);  // I, N, C
  EXPECT_EQ(b->LastStates(), 1u);
}

TEST(CpuTransfer, StackMultipleAndSingleRegisters) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kStack);
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  // STM pushes ER0 first, so the last register of the list is on top.
  EXPECT_EQ(b->cpu.er(4), 0x44444444u);
  EXPECT_EQ(b->cpu.er(0), 0x11111111u);
  EXPECT_EQ(b->cpu.er(1), 0x22222222u);
  EXPECT_EQ(b->cpu.er(2), 0x33333333u);
  EXPECT_EQ(b->cpu.er(3), 0x44444444u);
  EXPECT_EQ(b->cpu.er(6) >> 16, 0xBEEFu);
  EXPECT_EQ(b->cpu.er(5), 0x33333333u);
  EXPECT_EQ(b->cpu.er(7), TestBoard::kRamEnd);  // balanced
  // STM/LDM of four registers: 2 fetches + 8 stack words + 1 internal.
  EXPECT_EQ(b->trace[4].states, 11u);
  EXPECT_EQ(b->trace[10].states, 11u);
  // PUSH.W/POP.W: 1 + 1 + 1; PUSH.L/POP.L: 2 + 2 + 1.
  EXPECT_EQ(b->trace[12].states, 3u);
  EXPECT_EQ(b->trace[13].states, 3u);
  EXPECT_EQ(b->trace[14].states, 5u);
  EXPECT_EQ(b->trace[15].states, 5u);
}

TEST(CpuTransfer, EepmovCopiesR4lBytes) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kEepmov);
  const std::uint32_t dst = b->cpu.er(6) - 3;
  EXPECT_EQ(b->bus.Peek8(dst), 0xA1);
  EXPECT_EQ(b->bus.Peek8(dst + 2), 0xA3);
  EXPECT_EQ(b->bus.Peek8(dst + 3), 0x00);  // only R4L bytes
  EXPECT_EQ(b->cpu.er(4) & 0xFF, 0u);
  EXPECT_EQ(b->cpu.er(5), dst - 1);  // src ends where dst begins
  // EEPMOV.B: 4 + 2n states.
  EXPECT_EQ(b->LastStates(), 10u);
}

}  // namespace
}  // namespace vantor::board::test
