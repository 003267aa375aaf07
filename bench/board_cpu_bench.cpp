// Speed of the H8S core: a loop of typical instructions (moves, adds,
// compares, branches, a bit test on a peripheral register) running from
// on-chip RAM. Reports emulated instructions per second (items/s).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "board/cpu.h"
#include "board/memory_bus.h"
#include "board/scheduler.h"

namespace {

using namespace vantor::board;

class Registers : public Device {
 public:
  std::uint8_t Read8(std::uint32_t address) override { return regs[address & 0x1FF]; }
  void Write8(std::uint32_t address, std::uint8_t value) override { regs[address & 0x1FF] = value; }
  std::uint8_t regs[512] = {};
};

// The loop, hand-assembled (the benchmark needs no cross toolchain):
constexpr std::uint8_t kLoop[] = {
    0x7A, 0x01, 0x00, 0xFF, 0xB8, 0x00,  //        mov.l  #0xffb800,er1
    0x7A, 0x02, 0x00, 0xFF, 0xB9, 0x00,  //        mov.l  #0xffb900,er2
    0x79, 0x05, 0xFF, 0xFF,              //        mov.w  #0xffff,r5
    0x68, 0x18,                          // loop:  mov.b  @er1,r0l
    0x88, 0x01,                          //        add.b  #1,r0l
    0x68, 0x98,                          //        mov.b  r0l,@er1
    0x6D, 0x23,                          //        mov.w  @er2+,r3
    0x09, 0x34,                          //        add.w  r3,r4
    0x79, 0x24, 0x12, 0x34,              //        cmp.w  #0x1234,r4
    0x7E, 0x10, 0x73, 0x70,              //        btst   #7,@0xffff10:8
    0x47, 0x02,                          //        beq    skip
    0x0F, 0x86,                          //        mov.l  er0,er6
    0x1B, 0x82,                          // skip:  subs   #2,er2
    0x1B, 0x55,                          //        dec.w  #1,r5
    0x46, 0xE6,                          //        bne    loop
    0x40, 0xE0,                          //        bra    loop - 6 (reload r5)
};

void BM_CoreLoopInRam(benchmark::State& state) {
  MemoryBus bus;
  Scheduler scheduler;
  std::vector<std::uint8_t> ram(0x4000);
  Registers io;
  bus.Map(Region{"ram", 0xFFB000, 0x4000, ram.data(), true, nullptr, 1, 16});
  bus.Map(Region{"io", 0xFFFE00, 0x200, nullptr, false, &io, 2, 16});
  for (std::size_t i = 0; i < sizeof kLoop; ++i) ram[i] = kLoop[i];
  Cpu cpu(bus, scheduler);
  cpu.set_pc(0xFFB000);
  cpu.set_er(7, 0xFFEF00);
  const std::uint64_t before = cpu.instructions();
  for (auto _ : state) {
    cpu.Run(scheduler.now() + 1'000'000);
    if (cpu.stopReason() != StopReason::kNone) {
      state.SkipWithError(cpu.stopMessage().c_str());
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(cpu.instructions() - before));
  state.counters["states_per_instruction"] =
      static_cast<double>(scheduler.now()) / static_cast<double>(cpu.instructions() - before);
}
BENCHMARK(BM_CoreLoopInRam)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
