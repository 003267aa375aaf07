// Speed of the virtual chip: the boot exchange through port "sim" (the
// host's own boot-mode code, our 256-byte echo program, a programmed flash
// erased), and a busy wait loop on the core, in wall time against emulated
// time.
#include <benchmark/benchmark.h>

#include "board/h8s2215_chip.h"
#include "board/sim_transport.h"
#include "link/boot_mode.h"
#include "link/serial_link.h"
#include "link/serial_transport.h"
#include "tests/board/chip_assembler.h"
#include "tests/board/chip_boot_helper.h"
#include "tests/board/chip_host_profile.h"

namespace {

using namespace vantor;
using namespace vantor::board;

void BM_BootExchangeOverSim(benchmark::State& state) {
  if (!testing::PrepareEchoProfile()) {
    state.SkipWithError("built without the h8300-hms binutils");
    return;
  }
  SetTransportSelector(&SimTransportFor);
  double emulatedMs = 0;
  for (auto _ : state) {
    ResetSimBoard();
    SimBoard().Flash().Contents()[0x100] = 0;  // the boot ROM erases (600 ms emulated)
    const States start = SimBoard().Now();
    if (OpenPort(kSimPortName, 9600, 'n', 8, 1.0f) != kOk || StartBootMode() != kOk ||
        TransferWriteControlProgram() != kOk || WaitEraseComplete() != kOk) {
      state.SkipWithError("boot exchange failed");
      break;
    }
    emulatedMs = StatesToNs(SimBoard().Now() - start, device::kDefaultClockHz) / 1e6;
    ClosePort();
  }
  state.counters["emulated_ms"] = emulatedMs;
  SetTransportSelector(nullptr);
}
BENCHMARK(BM_BootExchangeOverSim)->Unit(benchmark::kMillisecond);

void BM_BusyWaitLoop(benchmark::State& state) {
  std::string errors;
  const auto image = testing::Assemble(
      "loop:\tmov.w\t#60000,r4\n1:\tdec.w\t#1,r4\n\tbne\t1b\n\tbra\tloop\n",
      device::kDefaultLoadAddress, errors);
  if (image.empty()) {
    state.SkipWithError("h8300-hms binutils not installed");
    return;
  }
  H8s2215Chip chip;
  if (!testing::BootInto(chip, image)) {
    state.SkipWithError("boot failed");
    return;
  }
  const std::uint64_t firstInstruction = chip.Core().instructions();
  const States firstState = chip.Now();
  for (auto _ : state) chip.RunForMicroseconds(10000);  // 10 ms of emulated time
  const double emulatedSeconds = StatesToNs(chip.Now() - firstState, device::kDefaultClockHz) / 1e9;
  state.counters["emulated_s_per_s"] =
      benchmark::Counter(emulatedSeconds, benchmark::Counter::kIsRate);
  state.counters["instructions_per_s"] = benchmark::Counter(
      static_cast<double>(chip.Core().instructions() - firstInstruction),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BusyWaitLoop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
