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

TEST(CpuTransfer, StoresReadBackThroughOtherModes) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kMoveRoundTrips);
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  const std::uint32_t buf = b->cpu.er(1);
  EXPECT_EQ(b->cpu.er(3), 0x11223344u);          // @(d:32) store, @(d:16) load
  EXPECT_EQ(b->cpu.er(4) >> 16, 0x3344u);        // @ERn word store and load (E4)
  EXPECT_EQ((b->cpu.er(4) >> 8) & 0xFF, 0x44u);  // last byte of the longword at +H'10
  EXPECT_EQ(b->cpu.er(4) & 0xFF, 0x22u);         // @aa:32 word store, @aa:16 load (R4L of H'1122)
  EXPECT_EQ(b->cpu.er(5), 0x11223344u);          // @-ERn store, @ERn+ load
  EXPECT_EQ(b->cpu.er(0), buf + 0x50);           // back where it started
  EXPECT_EQ(b->cpu.er(6), 0x11223344u);          // @aa:16 store, @aa:32 load
  EXPECT_EQ(b->bus.Peek8(buf + 0x30), 0x44);
  EXPECT_EQ(b->bus.Peek16(buf + 0x20), 0x1122);
  const unsigned expected[] = {
      3, 3,  // MOV.L #xx:32 twice
      7,     // MOV.L ERs,@(d:32,ERd): 5 fetches + 2 words
      5,     // MOV.L @(d:16,ERs),ERd: 3 + 2
      4,     // MOV.W Rs,@aa:32: 3 + 1
      3,     // MOV.W @aa:16,Rd: 2 + 1
      5,     // MOV.B Rs,@(d:32,ERd): 4 + 1
      3,     // MOV.B @(d:16,ERs),Rd: 2 + 1
      5,     // MOV.L ERs,@aa:16: 3 + 2
      6,     // MOV.L @aa:32,ERd: 4 + 2
      3,     // MOV.L #xx:32
      5,     // MOV.L ERs,@-ERd: 2 + 2 + 1
      5,     // MOV.L @ERs+,ERd: 2 + 2 + 1
      2, 2,  // MOV.W @ERn store and load: 1 + 1
  };
  for (unsigned i = 0; i < std::size(expected); ++i)
    EXPECT_EQ(b->trace[i].states, expected[i]) << "instruction " << i;
}

TEST(CpuTransfer, ShortRegisterListsBlockMoveAndControlRegistersInMemory) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kBlockAndControl);
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  // STM ER4-ER6 then ER2-ER3; LDM ER0-ER1 takes back what ER2-ER3 held
  // (zero), LDM ER4-ER6 the first three.
  EXPECT_EQ(b->cpu.er(0), 0u);
  EXPECT_EQ(b->cpu.er(7), TestBoard::kRamEnd);
  EXPECT_EQ(b->trace[3].states, 9u);  // STM of three: 2 + 6 + 1
  EXPECT_EQ(b->trace[4].states, 7u);  // STM of two: 2 + 4 + 1
  EXPECT_EQ(b->trace[6].states, 9u);
  // EEPMOV.W: R4 bytes (3), 4 + 2n states.
  const std::uint32_t dst = b->cpu.er(1);
  EXPECT_EQ(b->bus.Peek8(dst), 0xB1);
  EXPECT_EQ(b->bus.Peek8(dst + 2), 0xB3);
  EXPECT_EQ(b->bus.Peek8(dst + 3), 0x00);
  EXPECT_EQ(b->cpu.er(4) & 0xFFFF, 0u);
  EXPECT_EQ(b->trace[10].states, 10u);
  // Control registers through memory: the word's upper byte.
  EXPECT_EQ(b->bus.Peek8(dst + 0x10), 0x8A);
  EXPECT_EQ(b->cpu.er(2) & 0xFF, 0x8Au);
  EXPECT_EQ(b->bus.Peek8(dst + 0x20), 0x7B);
  EXPECT_EQ((b->cpu.er(2) >> 8) & 0xFF, 0x7Bu);
  EXPECT_EQ(b->trace[13].states, 6u);  // STC CCR,@(d:32,ERd): 5 + 1
  EXPECT_EQ(b->trace[15].states, 6u);  // LDC @(d:32,ERs),CCR
  EXPECT_EQ(b->trace[18].states, 4u);  // STC EXR,@aa:16: 3 + 1
  EXPECT_EQ(b->trace[20].states, 5u);  // LDC @aa:32,EXR: 4 + 1
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
