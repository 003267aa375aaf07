// Branches, calls and returns; the counting loop the host's clock formulas
// rely on.
#include <gtest/gtest.h>

#include "tests/board/h8_toolchain.h"
#include "tests/board/test_programs.h"

namespace vantor::board::test {
namespace {

// Which of the seven flag settings (none, C, Z, N, V, N+V, Z+N; bit k for
// setting k) each condition branches under, from the manual's conditions.
constexpr std::uint8_t kTaken[16] = {
    0x7F,  // BRA always
    0x00,  // BRN never
    0x39,  // BHI: C or Z = 0
    0x46,  // BLS: C or Z = 1
    0x7D,  // BCC: C = 0
    0x02,  // BCS: C = 1
    0x3B,  // BNE: Z = 0
    0x44,  // BEQ: Z = 1
    0x4F,  // BVC: V = 0
    0x30,  // BVS: V = 1
    0x17,  // BPL: N = 0
    0x68,  // BMI: N = 1
    0x27,  // BGE: N xor V = 0
    0x58,  // BLT: N xor V = 1
    0x23,  // BGT: Z or (N xor V) = 0
    0x5C,  // BLE: Z or (N xor V) = 1
};

void CheckConditions(bool wide) {
  auto b = RunProgram(ConditionsProgram(wide));
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  const std::uint32_t results = b->cpu.er(6);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(b->bus.Peek8(results + i), kTaken[i]) << "condition " << i;
  // Every Bcc costs the same taken or not: d:8 2 states, d:16 3.
  unsigned branches = 0;
  for (const auto& e : b->trace) {
    const std::uint8_t op = b->bus.Peek8(e.pc);
    if ((op & 0xF0) == 0x40 && op != 0x40) {
      EXPECT_EQ(e.states, 2u);
      ++branches;
    }
    if (op == 0x58) {
      EXPECT_EQ(e.states, 3u);
      ++branches;
    }
  }
  EXPECT_GE(branches, wide ? 16u * 7 : 15u * 7);
}

TEST(CpuBranch, EveryConditionShortDisplacement) {
  REQUIRE_H8_TOOLCHAIN();
  CheckConditions(false);
}

TEST(CpuBranch, EveryConditionWordDisplacement) {
  REQUIRE_H8_TOOLCHAIN();
  CheckConditions(true);
}

TEST(CpuBranch, CallsAndReturnsInEveryForm) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kCalls, 0x80, [](TestBoard& t) {
    // The memory-indirect vector at H'20 points at sub3, the program's last
    // four bytes.
    const auto& a = Assemble(kCalls, TestBoard::kRam);
    const std::uint32_t sub3 = TestBoard::kRam + static_cast<std::uint32_t>(a.image.size()) - 4;
    for (int i = 0; i < 4; ++i)
      t.bus.Poke8(0x20 + i, static_cast<std::uint8_t>(sub3 >> (24 - 8 * i)));
  });
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  EXPECT_EQ(b->cpu.er(0) & 0xFF, 2u);         // sub1 by BSR d:8 and d:16
  EXPECT_EQ((b->cpu.er(0) >> 8) & 0xFF, 1u);  // sub2 by JSR @ERn
  EXPECT_EQ(b->cpu.er(2) & 0xFF, 1u);         // sub3 by JSR @@aa:8
  EXPECT_NE(b->cpu.er(6) & 0xFF, 0xEEu);      // JMP skipped it
  EXPECT_EQ(b->cpu.er(7), TestBoard::kRamEnd);
  ASSERT_GE(b->trace.size(), 14u);
  EXPECT_EQ(b->trace[1].states, 4u);   // BSR d:8: 2 fetches + 2 stack words
  EXPECT_EQ(b->trace[3].states, 5u);   // RTS: 2 + 2 + 1 internal
  EXPECT_EQ(b->trace[4].states, 4u);   // JSR @ERn: 2 + 2
  EXPECT_EQ(b->trace[7].states, 6u);   // JSR @@aa:8: 2 + 2 vector words + 2
  EXPECT_EQ(b->trace[10].states, 5u);  // BSR d:16: 2 + 2 + 1
  EXPECT_EQ(b->trace[13].states, 3u);  // JMP @aa:24: 2 + 1
}

TEST(CpuBranch, DecrementLoopCostsThreeStatesAnIteration) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kCountLoop);
  ASSERT_EQ(b->trace.size(), 1u + 2000u + 1u);
  std::uint64_t loop = 0;
  for (std::size_t i = 1; i + 1 < b->trace.size(); ++i) loop += b->trace[i].states;
  EXPECT_EQ(loop, 3000u);
  EXPECT_EQ(b->cpu.er(1) & 0xFFFF, 0u);
}

TEST(CpuBranch, DecrementLoopFromRomCostsTheSame) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kCountLoop, 0x80, {}, 0x1000);
  std::uint64_t loop = 0;
  for (std::size_t i = 1; i + 1 < b->trace.size(); ++i) loop += b->trace[i].states;
  EXPECT_EQ(loop, 3000u);
}

}  // namespace
}  // namespace vantor::board::test
