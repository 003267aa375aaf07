// The one table of instruction forms of the H8S/2000 CPU (the H8S/2600 set
// without the multiply-accumulator).
//
// Each row gives a form's mnemonic (as the disassembler prints it), its bit
// pattern, the operation, operand size, the two operands' addressing modes
// and where their fields sit, and its state counts. The core's dispatch and
// the disassembler are both derived from these rows; nothing else knows an
// encoding.
//
// Patterns are written one character per 4-bit nibble, in instruction
// order, spaces ignored:
//   0-9 A-F   a fixed nibble
//   a lowercase letter   a 4-bit field (8/16-bit register, immediate,
//             displacement or address digits)
//   an uppercase letter G-Z   a 3-bit field with the nibble's top bit 0
//             (ERn, bit number); with a '+' before it, top bit 1
#pragma once

#include <cstdint>
#include <span>

namespace vantor::board {

enum class Size : std::uint8_t { kNone, kByte, kWord, kLong };

enum class Mode : std::uint8_t {
  kNone,
  kRegB,     // r0h..r7l, 4-bit field
  kRegW,     // r0..r7, e0..e7, 4-bit field
  kRegL,     // er0..er7, 3-bit field
  kImm,      // #xx of the form's size
  kBitNum,   // #xx:3
  kConst,    // an implied constant (#1, #2, #4; TRAPA's vector number)
  kInd,      // @ERn
  kDisp16,   // @(d:16,ERn)
  kDisp32,   // @(d:32,ERn)
  kPostInc,  // @ERn+
  kPreDec,   // @-ERn
  kAbs8,     // @aa:8 (H'FFFF00-H'FFFFFF)
  kAbs16,    // @aa:16, sign-extended
  kAbs24,    // @aa:24 (JMP/JSR)
  kAbs32,    // @aa:32 (also what the assembler emits for @aa:24 data)
  kPcRel8,   // d:8 from the end of the instruction
  kPcRel16,  // d:16
  kMemInd,   // @@aa:8
  kCcr,
  kExr,
  kRegList,   // ERn-ERm of LDM/STM; `value` holds the register count
  kStackPop,  // "@sp+" of LDM
  kStackPush  // "@-sp" of STM
};

enum class Op : std::uint8_t {
  kMov,
  kAdd,
  kAddx,
  kAdds,
  kInc,
  kDaa,
  kSub,
  kSubx,
  kSubs,
  kDec,
  kDas,
  kMulxu,
  kMulxs,
  kDivxu,
  kDivxs,
  kCmp,
  kNeg,
  kExtu,
  kExts,
  kTas,
  kAnd,
  kOr,
  kXor,
  kNot,
  kShal,
  kShar,
  kShll,
  kShlr,
  kRotl,
  kRotr,
  kRotxl,
  kRotxr,
  kBset,
  kBclr,
  kBnot,
  kBtst,
  kBand,
  kBiand,
  kBor,
  kBior,
  kBxor,
  kBixor,
  kBld,
  kBild,
  kBst,
  kBist,
  kBcc,
  kJmp,
  kJsr,
  kBsr,
  kRts,
  kRte,
  kTrapa,
  kLdc,
  kStc,
  kAndc,
  kOrc,
  kXorc,
  kNop,
  kSleep,
  kLdm,
  kStm,
  kEepmovB,
  kEepmovW
};

struct Operand {
  Mode mode = Mode::kNone;
  char reg = 0;            // pattern letter of the register field
  char ext = 0;            // pattern letter of the immediate/displacement/address
  std::uint8_t value = 0;  // kConst: the constant; kRegList: the register count
  // Derived when the table is built: nibble index of each field.
  std::uint8_t regNibble = 0;
  std::uint8_t extNibble = 0;
};

struct InstructionForm {
  const char* mnemonic;
  const char* pattern;
  Op op;
  Size size;
  Operand src;
  Operand dst;
  // States, in the programming manual's terms: I, the instruction fetches
  // (with the prefetch a branch makes at its target), and N, the internal
  // operations. Data, stack and vector accesses are counted as the core
  // makes them, at the cost of the region each one touches.
  std::uint8_t fetches;
  std::uint8_t internal;
  std::uint8_t condition = 0;  // Bcc: the condition code 0-15

  // Derived when the table is built.
  std::uint8_t length = 0;  // bytes
  std::uint8_t bits[10] = {};
  std::uint8_t mask[10] = {};
};

// Every form of the table.
std::span<const InstructionForm> InstructionForms();

// Finds the form that `bytes` (at least 10 readable, beyond the instruction
// being ignored) start with, or nullptr when they are no instruction.
// `wordsExamined` receives how many words the decision looked at.
const InstructionForm* DecodeInstruction(const std::uint8_t* bytes, int* wordsExamined = nullptr);

// The form of every first word that decides alone (no second word needed
// and exactly one candidate), indexed by the word; null entries need
// DecodeInstruction. Built with the table.
const InstructionForm* const* FirstWordForms();

// True when the first two words alone decide the form of every instruction
// that starts with `firstWord` (so a decoder may remember the answer per
// word pair).
bool DecidedByTwoWords(std::uint16_t firstWord);

// The value of the nibble at index `n` (0 = top nibble of the first byte).
inline unsigned Nibble(const std::uint8_t* bytes, unsigned n) {
  return (bytes[n >> 1] >> ((~n & 1u) << 2)) & 0xFu;
}

}  // namespace vantor::board
