// Bit patterns that are no instruction of the core (and the MAC group it
// leaves out) stop it with a report naming the address and the words; they
// never run on.
#include <gtest/gtest.h>

#include "tests/board/h8_toolchain.h"

namespace vantor::board::test {
namespace {

struct Case {
  const char* what;
  std::vector<std::uint8_t> bytes;
  const char* report;
};

TEST(IllegalInstruction, StopsWithAddressAndOpcode) {
  const Case cases[] = {
      {"CLRMAC", {0x01, 0xA0}, "illegal instruction at H'FFB002: H'01A0"},
      {"MAC @ER1+,@ER2+", {0x01, 0x60, 0x6D, 0x12}, "illegal instruction at H'FFB002: H'0160"},
      {"LDMAC ER1,MACH", {0x03, 0x21}, "illegal instruction at H'FFB002: H'0321"},
      {"STMAC MACL,ER2", {0x02, 0x32}, "illegal instruction at H'FFB002: H'0232"},
      {"TRAPA with bit 6", {0x57, 0x40}, "illegal instruction at H'FFB002: H'5740"},
      {"LDM ER1-ER3", {0x01, 0x20, 0x6D, 0x73}, "illegal instruction at H'FFB002: H'0120 H'6D73"},
      {"STM ER3-ER4", {0x01, 0x10, 0x6D, 0xF3}, "illegal instruction at H'FFB002: H'0110 H'6DF3"},
      {"MOV.L with a bad second word",
       {0x01, 0x00, 0x6C, 0x12},
       "illegal instruction at H'FFB002: H'0100 H'6C12"},
      {"bit op prefix with a move",
       {0x7C, 0x10, 0x68, 0x10},
       "illegal instruction at H'FFB002: H'7C10 H'6810"},
      {"JMP @ERn with low bits", {0x59, 0x11}, "illegal instruction at H'FFB002: H'5911"},
      {"ER field with bit 3",
       {0x01, 0x00, 0x69, 0x88},
       "illegal instruction at H'FFB002: H'0100 H'6988"},
      {"unused 6A form", {0x6A, 0x40, 0x12, 0x34}, "illegal instruction at H'FFB002: H'6A40"},
  };
  for (const Case& c : cases) {
    TestBoard t;
    t.bus.Poke8(TestBoard::kRam, 0x00);  // NOP first, so the address moves on
    t.bus.Poke8(TestBoard::kRam + 1, 0x00);
    for (std::size_t i = 0; i < c.bytes.size(); ++i)
      t.bus.Poke8(TestBoard::kRam + 2 + i, c.bytes[i]);
    const StopReason r = t.Run(TestBoard::kRam);
    EXPECT_EQ(r, StopReason::kIllegalInstruction) << c.what;
    EXPECT_EQ(t.cpu.stopMessage(), c.report) << c.what;
    EXPECT_EQ(t.cpu.pc(), TestBoard::kRam + 2) << c.what;  // left at the pattern
    EXPECT_EQ(t.cpu.instructions(), 1u) << c.what;
    EXPECT_EQ(t.scheduler.now(), 1u) << c.what;  // only the NOP's state
    // Running again does not step over it.
    EXPECT_EQ(t.cpu.Step(), 0u);
    t.cpu.ClearStop();
    EXPECT_EQ(t.cpu.Run(1000), StopReason::kIllegalInstruction) << c.what;
    EXPECT_EQ(t.cpu.pc(), TestBoard::kRam + 2) << c.what;
  }
}

TEST(IllegalInstruction, AssembledMacIsRefused) {
  REQUIRE_H8_TOOLCHAIN();
  // What the assembler emits for the MAC group must not run either.
  auto b = RunProgram("\tnop\n\tclrmac\n\tsleep\n");
  EXPECT_EQ(b->cpu.stopReason(), StopReason::kIllegalInstruction);
  EXPECT_EQ(b->cpu.stopMessage().rfind("illegal instruction at H'FFB002: H'01A0", 0), 0u)
      << b->cpu.stopMessage();
}

}  // namespace
}  // namespace vantor::board::test
