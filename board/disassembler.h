// Instruction text in the notation of the GNU H8/300 disassembler
// (`h8300-hms-objdump -d -m h8300s`): mnemonic, a tab, the operands; numbers
// in hexadecimal except the implied constants of ADDS/INC/shifts and the
// @@aa:8 vector number; branch targets as ".+d (0xtarget)".
#pragma once

#include <cstdint>
#include <string>

#include "board/instruction_table.h"
#include "board/memory_bus.h"

namespace vantor::board {

struct Disassembly {
  const InstructionForm* form = nullptr;  // null: no instruction
  unsigned length = 2;                    // bytes
  std::string text;
};

// Disassembles the instruction whose bytes (at least 10 readable) start at
// `bytes`, located at `address`. No instruction gives "(illegal) H'xxxx".
Disassembly Disassemble(const std::uint8_t* bytes, std::uint32_t address);
// The same, reading the bus without side effects.
Disassembly Disassemble(const MemoryBus& bus, std::uint32_t address);

}  // namespace vantor::board
