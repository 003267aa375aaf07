// System control, exceptions and interrupts, and the cost of peripheral
// register accesses.
#include <gtest/gtest.h>

#include "tests/board/h8_toolchain.h"
#include "tests/board/test_programs.h"

namespace vantor::board::test {
namespace {

void PokeLong(TestBoard& t, std::uint32_t address, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    t.bus.Poke8(address + i, static_cast<std::uint8_t>(value >> (24 - 8 * i)));
}

void PokeBytes(TestBoard& t, std::uint32_t address, std::initializer_list<std::uint8_t> bytes) {
  for (std::uint8_t v : bytes) t.bus.Poke8(address++, v);
}

TEST(CpuSystem, ControlRegisterTransfersAndLogic) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kControlRegisters);
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  const auto byte = [&](int reg, bool high) { return (b->cpu.er(reg) >> (high ? 8 : 0)) & 0xFF; };
  EXPECT_EQ(byte(0, false), 0x7Au);              // EXR keeps T and I2-I0; bits 6-3 read 1
  EXPECT_EQ(byte(0, true), 0x8Fu);               // ORC
  EXPECT_EQ(byte(1, false), 0x80u);              // ANDC
  EXPECT_EQ(byte(1, true), 0x91u);               // XORC
  EXPECT_EQ(byte(3, false), 0x8Au);              // LDC @ERs: the word's upper byte
  EXPECT_EQ(byte(3, true), 0x7Fu);               // ORC to EXR
  EXPECT_EQ((b->cpu.er(4) >> 8) & 0xFF, 0x7Fu);  // STC EXR,@-ERd: upper byte
  EXPECT_EQ(b->cpu.ccr(), 0x8F);
  EXPECT_EQ(b->trace[0].states, 2u);   // LDC #xx,EXR: 2 fetches
  EXPECT_EQ(b->trace[3].states, 1u);   // ORC #xx,CCR
  EXPECT_EQ(b->trace[10].states, 3u);  // LDC @ERs,CCR: 2 + 1 word
  EXPECT_EQ(b->trace[14].states, 4u);  // STC EXR,@-ERd: 2 + 1 + 1 internal
}

TEST(CpuSystem, TrapaSavesCcrAndPcAndRteRestoresThem) {
  REQUIRE_H8_TOOLCHAIN();
  const std::uint32_t handler = TestBoard::kRam + 8;
  auto b = RunProgram(kTrap, 0x80, [&](TestBoard& t) { PokeLong(t, 4 * 10, handler); });
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  EXPECT_EQ((b->cpu.er(1) >> 8) & 0xFF, 0x85u);  // in the handler: I set
  EXPECT_EQ(b->cpu.er(0) & 0xFF, 0x55u);
  // Advanced mode frame: CCR in the top byte, the return address below.
  EXPECT_EQ(b->cpu.er(5), 0x05000000u | (TestBoard::kRam + 4));
  EXPECT_EQ(b->cpu.er(1) & 0xFF, 0x05u);  // restored by RTE
  EXPECT_EQ(b->cpu.er(7), TestBoard::kRamEnd);
  EXPECT_EQ(b->trace[1].states, 8u);  // TRAPA: 2 fetches, 2 vector, 2 stack, 2 internal
  EXPECT_EQ(b->trace[5].states, 5u);  // RTE: 2 + 2 + 1
}

TEST(CpuSystem, InterruptWaitsForTheMaskThenEntersItsHandler) {
  REQUIRE_H8_TOOLCHAIN();
  const std::uint32_t handler = TestBoard::kRam + 12;
  auto b = RunProgram(kInterrupt, 0x80, [&](TestBoard& t) {
    PokeLong(t, 4 * 40, handler);
    t.cpu.RaiseInterrupt(40, 1);
  });
  ASSERT_EQ(b->cpu.stopReason(), StopReason::kSleep) << b->cpu.stopMessage();
  // Masked through two NOPs and ANDC; accepted before the next instruction.
  ASSERT_GE(b->trace.size(), 5u);
  EXPECT_EQ(b->trace[3].pc, TestBoard::kRam + 6);
  EXPECT_EQ(b->trace[4].pc, handler);
  EXPECT_EQ(b->cpu.er(0) & 0xFF, 0x80u);                        // I set by the acceptance
  EXPECT_EQ(b->bus.Peek32(b->cpu.er(7)), TestBoard::kRam + 6);  // CCR was 0
  EXPECT_EQ(b->cpu.instructions(), 5u);
}

// The following run hand-assembled code: they need no toolchain.

TEST(CpuSystem, ResetFetchesTheStartAddressAndMasksInterrupts) {
  TestBoard t;
  PokeLong(t, 0, 0x000400);
  t.cpu.set_ccr(0x00);
  t.cpu.set_exr(0x00);
  const std::uint64_t before = t.scheduler.now();
  t.cpu.Reset();
  EXPECT_EQ(t.cpu.pc(), 0x000400u);
  EXPECT_EQ(t.cpu.ccr() & kCcrI, kCcrI);
  EXPECT_EQ(t.cpu.exr(), 0x7F);
  EXPECT_EQ(t.scheduler.now() - before, 2u);  // two word reads of the vector
}

TEST(CpuSystem, ModeTwoAcceptsOnlyPrioritiesAboveTheExrMask) {
  TestBoard t;
  const std::uint32_t at = TestBoard::kRam;
  // ldc #4,exr ; nop ; sleep         handler: sleep
  PokeBytes(t, at, {0x01, 0x41, 0x07, 0x04, 0x00, 0x00, 0x01, 0x80});
  PokeBytes(t, at + 0x20, {0x01, 0x80});
  PokeLong(t, 4 * 50, at + 0x20);
  t.cpu.SetInterruptControlMode(2);
  t.cpu.set_exr(0x07);
  t.cpu.RaiseInterrupt(50, 5);
  t.Run(at);
  ASSERT_EQ(t.cpu.stopReason(), StopReason::kSleep);
  EXPECT_EQ(t.cpu.pc(), at + 0x22);  // the handler's SLEEP
  ASSERT_GE(t.trace.size(), 2u);
  EXPECT_EQ(t.trace[1].pc, at + 4u);     // accepted after LDC lowered the mask to 4
  EXPECT_EQ(t.cpu.exr() & kExrMask, 5);  // the mask rises to the accepted priority
  // Mode 2 frame: EXR word below CCR:PC.
  EXPECT_EQ(t.bus.Peek8(t.cpu.er(7)), 0x7C);
  EXPECT_EQ(t.bus.Peek32(t.cpu.er(7) + 2) & 0xFFFFFF, at + 4u);
}

TEST(CpuSystem, SleepWaitsForAnEventRaisedInterrupt) {
  TestBoard t;
  const std::uint32_t at = TestBoard::kRam;
  PokeBytes(t, at, {0x06, 0x7F, 0x01, 0x80});  // andc #0x7f,ccr ; sleep
  PokeBytes(t, at + 0x10, {0x01, 0x80});       // handler: sleep
  PokeLong(t, 4 * 30, at + 0x10);
  int sleeps = 0;
  t.cpu.SetSleepHandler([&](Cpu&) { return ++sleeps == 1; });  // wait once, then stop
  t.scheduler.At(1000, [&] { t.cpu.RaiseInterrupt(30, 1); });
  t.Run(at, 100000);
  EXPECT_EQ(sleeps, 2);
  EXPECT_EQ(t.cpu.stopReason(), StopReason::kSleep);
  EXPECT_EQ(t.cpu.pc(), at + 0x12);
  EXPECT_GE(t.scheduler.now(), 1000u);  // time ran on to the event
  EXPECT_LT(t.scheduler.now(), 1100u);
}

TEST(CpuSystem, PeripheralRegistersCostTwoStatesAnAccess) {
  REQUIRE_H8_TOOLCHAIN();
  auto b = RunProgram(kPeripheralTiming, 0x80, [](TestBoard& t) {
    t.io[0x10] = 0x5A;
    t.io[0x120] = 0xC3;
    t.rom[0x20] = 0x77;
  });
  EXPECT_EQ(b->trace[0].states, 4u);  // MOV.B @aa:16 from a register: 2 + 2
  EXPECT_EQ(b->trace[1].states, 4u);  // MOV.W to it: 2 + 2
  EXPECT_EQ(b->trace[2].states, 7u);  // MOV.L: 3 + two word accesses of 2
  EXPECT_EQ(b->trace[3].states, 3u);  // MOV.B @aa:8: 1 + 2
  EXPECT_EQ(b->trace[4].states, 3u);  // from ROM: 2 + 1
  EXPECT_EQ(b->io[0x13], 0x5A);       // the longword ends with R0L
  EXPECT_EQ(b->cpu.er(0) & 0xFFFF, 0xC35Au);
  EXPECT_EQ(b->cpu.er(1) & 0xFF, 0x77u);
}

}  // namespace
}  // namespace vantor::board::test
