// Test support: assembles H8S test programs with GNU binutils for H8/300
// (h8300-hms-as, h8300-hms-ld -mh8300s, h8300-hms-objcopy) and reads
// h8300-hms-objdump's disassembly, and a small board to run them on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/cpu.h"
#include "board/memory_bus.h"
#include "board/scheduler.h"

namespace vantor::board::test {

// True when the assembler, linker, objcopy and objdump can be run.
bool ToolchainAvailable();

struct Assembled {
  bool ok = false;
  std::string log;  // the tools' messages when !ok
  std::uint32_t origin = 0;
  std::vector<std::uint8_t> image;  // from `origin`
  std::string elfPath;              // the linked file, for objdump
};

// Assembles `source` (an H8S program; ".h8300s" and ".text" are added in
// front) linked at `origin`. Results are cached per source and origin.
const Assembled& Assemble(const std::string& source, std::uint32_t origin);

struct ObjdumpLine {
  std::uint32_t address;
  std::string text;  // mnemonic, tab, operands, trailing blanks removed
};
// The instructions objdump lists for a linked file.
std::vector<ObjdumpLine> Objdump(const std::string& elfPath);

// A board for the tests: ROM at H'000000 (256 KiB, 1 state), RAM
// H'FFB000-H'FFEFBF (1 state), and a page of peripheral registers
// H'FFFE00-H'FFFFFF (2 states per access) backed by an array that records
// each access.
class TestBoard : public Device {
 public:
  static constexpr std::uint32_t kRam = 0xFFB000;
  static constexpr std::uint32_t kRamEnd = 0xFFEFC0;
  static constexpr std::uint32_t kIo = 0xFFFE00;

  TestBoard();
  void Load(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

  std::uint8_t Read8(std::uint32_t address) override;
  void Write8(std::uint32_t address, std::uint8_t value) override;

  struct Executed {
    std::uint32_t pc;
    unsigned states;
  };
  // Runs from `pc` with ER7 at the top of RAM until SLEEP, an illegal
  // instruction or `limit` states, recording each instruction.
  StopReason Run(std::uint32_t pc, std::uint64_t limit = 100'000);
  // States of the instruction executed just before the final SLEEP.
  unsigned LastStates() const;

  std::vector<std::uint8_t> rom;
  std::vector<std::uint8_t> ram;
  std::uint8_t io[512] = {};
  unsigned ioReads = 0;
  unsigned ioWrites = 0;
  MemoryBus bus;
  Scheduler scheduler;
  Cpu cpu;
  std::vector<Executed> trace;
};

// Assembles `source` at the start of RAM, runs it with the given initial
// CCR and returns the board (the test is skipped by the caller when the
// toolchain is missing). Fails the current test when assembly fails.
// `setup` runs after loading, before the first instruction.
std::unique_ptr<TestBoard> RunProgram(const std::string& source, std::uint8_t ccr = 0x80,
                                      const std::function<void(TestBoard&)>& setup = {},
                                      std::uint32_t origin = TestBoard::kRam);

}  // namespace vantor::board::test

// Skips the current test, by name, when binutils for H8/300 is missing.
#define REQUIRE_H8_TOOLCHAIN()                                               \
  do {                                                                       \
    if (!::vantor::board::test::ToolchainAvailable())                        \
      GTEST_SKIP() << "binutils for H8/300 (h8300-hms-as) is not installed"; \
  } while (0)
