#include "board/instruction_table.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantor::board {
namespace {

// Operand shorthands for the table below.
constexpr Operand None() {
  return {};
}
constexpr Operand RB(char r) {
  return {Mode::kRegB, r};
}
constexpr Operand RW(char r) {
  return {Mode::kRegW, r};
}
constexpr Operand RL(char r) {
  return {Mode::kRegL, r};
}
constexpr Operand Imm(char e) {
  return {Mode::kImm, 0, e};
}
constexpr Operand Bit(char r) {
  return {Mode::kBitNum, r};
}
constexpr Operand K(std::uint8_t v) {
  return {Mode::kConst, 0, 0, v};
}
constexpr Operand Ind(char r) {
  return {Mode::kInd, r};
}
constexpr Operand D16(char r, char e) {
  return {Mode::kDisp16, r, e};
}
constexpr Operand D32(char r, char e) {
  return {Mode::kDisp32, r, e};
}
constexpr Operand PostInc(char r) {
  return {Mode::kPostInc, r};
}
constexpr Operand PreDec(char r) {
  return {Mode::kPreDec, r};
}
constexpr Operand A8(char e) {
  return {Mode::kAbs8, 0, e};
}
constexpr Operand A16(char e) {
  return {Mode::kAbs16, 0, e};
}
constexpr Operand A24(char e) {
  return {Mode::kAbs24, 0, e};
}
constexpr Operand A32(char e) {
  return {Mode::kAbs32, 0, e};
}
constexpr Operand Pc8(char e) {
  return {Mode::kPcRel8, 0, e};
}
constexpr Operand Pc16(char e) {
  return {Mode::kPcRel16, 0, e};
}
constexpr Operand MemInd(char e) {
  return {Mode::kMemInd, 0, e};
}
constexpr Operand Ccr() {
  return {Mode::kCcr};
}
constexpr Operand Exr() {
  return {Mode::kExr};
}
constexpr Operand List(char r, std::uint8_t n) {
  return {Mode::kRegList, r, 0, n};
}
constexpr Operand SpPop() {
  return {Mode::kStackPop};
}
constexpr Operand SpPush() {
  return {Mode::kStackPush};
}

constexpr Size B = Size::kByte;
constexpr Size W = Size::kWord;
constexpr Size L = Size::kLong;
constexpr Size X = Size::kNone;

using F = InstructionForm;

std::vector<InstructionForm> Rows() {
  std::vector<F> t = {
      // Data transfer. MOV sets N and Z from the value moved and clears V.
      {"mov.b", "0C sd", Op::kMov, B, RB('s'), RB('d'), 1, 0},
      {"mov.b", "F d ii", Op::kMov, B, Imm('i'), RB('d'), 1, 0},
      {"mov.b", "68 Sd", Op::kMov, B, Ind('S'), RB('d'), 1, 0},
      {"mov.b", "68 +Ts", Op::kMov, B, RB('s'), Ind('T'), 1, 0},
      {"mov.b", "6E Sd kkkk", Op::kMov, B, D16('S', 'k'), RB('d'), 2, 0},
      {"mov.b", "6E +Ts kkkk", Op::kMov, B, RB('s'), D16('T', 'k'), 2, 0},
      {"mov.b", "78 S0 6A 2d kkkkkkkk", Op::kMov, B, D32('S', 'k'), RB('d'), 4, 0},
      {"mov.b", "78 T0 6A As kkkkkkkk", Op::kMov, B, RB('s'), D32('T', 'k'), 4, 0},
      {"mov.b", "6C Sd", Op::kMov, B, PostInc('S'), RB('d'), 1, 1},
      {"mov.b", "6C +Ts", Op::kMov, B, RB('s'), PreDec('T'), 1, 1},
      {"mov.b", "2d mm", Op::kMov, B, A8('m'), RB('d'), 1, 0},
      {"mov.b", "3s mm", Op::kMov, B, RB('s'), A8('m'), 1, 0},
      {"mov.b", "6A 0d mmmm", Op::kMov, B, A16('m'), RB('d'), 2, 0},
      {"mov.b", "6A 8s mmmm", Op::kMov, B, RB('s'), A16('m'), 2, 0},
      {"mov.b", "6A 2d mmmmmmmm", Op::kMov, B, A32('m'), RB('d'), 3, 0},
      {"mov.b", "6A As mmmmmmmm", Op::kMov, B, RB('s'), A32('m'), 3, 0},

      {"mov.w", "0D sd", Op::kMov, W, RW('s'), RW('d'), 1, 0},
      {"mov.w", "79 0d iiii", Op::kMov, W, Imm('i'), RW('d'), 2, 0},
      {"mov.w", "69 Sd", Op::kMov, W, Ind('S'), RW('d'), 1, 0},
      {"mov.w", "69 +Ts", Op::kMov, W, RW('s'), Ind('T'), 1, 0},
      {"mov.w", "6F Sd kkkk", Op::kMov, W, D16('S', 'k'), RW('d'), 2, 0},
      {"mov.w", "6F +Ts kkkk", Op::kMov, W, RW('s'), D16('T', 'k'), 2, 0},
      {"mov.w", "78 S0 6B 2d kkkkkkkk", Op::kMov, W, D32('S', 'k'), RW('d'), 4, 0},
      {"mov.w", "78 T0 6B As kkkkkkkk", Op::kMov, W, RW('s'), D32('T', 'k'), 4, 0},
      {"mov.w", "6D Sd", Op::kMov, W, PostInc('S'), RW('d'), 1, 1},
      {"mov.w", "6D +Ts", Op::kMov, W, RW('s'), PreDec('T'), 1, 1},
      {"mov.w", "6B 0d mmmm", Op::kMov, W, A16('m'), RW('d'), 2, 0},
      {"mov.w", "6B 8s mmmm", Op::kMov, W, RW('s'), A16('m'), 2, 0},
      {"mov.w", "6B 2d mmmmmmmm", Op::kMov, W, A32('m'), RW('d'), 3, 0},
      {"mov.w", "6B As mmmmmmmm", Op::kMov, W, RW('s'), A32('m'), 3, 0},

      {"mov.l", "0F +S T", Op::kMov, L, RL('S'), RL('T'), 1, 0},
      {"mov.l", "7A 0T iiiiiiii", Op::kMov, L, Imm('i'), RL('T'), 3, 0},
      {"mov.l", "0100 69 ST", Op::kMov, L, Ind('S'), RL('T'), 2, 0},
      {"mov.l", "0100 69 +TS", Op::kMov, L, RL('S'), Ind('T'), 2, 0},
      {"mov.l", "0100 6F ST kkkk", Op::kMov, L, D16('S', 'k'), RL('T'), 3, 0},
      {"mov.l", "0100 6F +TS kkkk", Op::kMov, L, RL('S'), D16('T', 'k'), 3, 0},
      {"mov.l", "0100 78 S0 6B 2T kkkkkkkk", Op::kMov, L, D32('S', 'k'), RL('T'), 5, 0},
      {"mov.l", "0100 78 +T0 6B AS kkkkkkkk", Op::kMov, L, RL('S'), D32('T', 'k'), 5, 0},
      {"mov.l", "0100 6D ST", Op::kMov, L, PostInc('S'), RL('T'), 2, 1},
      {"mov.l", "0100 6D +TS", Op::kMov, L, RL('S'), PreDec('T'), 2, 1},
      {"mov.l", "0100 6B 0T mmmm", Op::kMov, L, A16('m'), RL('T'), 3, 0},
      {"mov.l", "0100 6B 8S mmmm", Op::kMov, L, RL('S'), A16('m'), 3, 0},
      {"mov.l", "0100 6B 2T mmmmmmmm", Op::kMov, L, A32('m'), RL('T'), 4, 0},
      {"mov.l", "0100 6B AS mmmmmmmm", Op::kMov, L, RL('S'), A32('m'), 4, 0},

      // LDM pops ERn..ERm (the pattern names the last), STM pushes them (the
      // pattern names the first); one internal state either way.
      {"ldm.l", "0110 6D 7T", Op::kLdm, L, SpPop(), List('T', 2), 2, 1},
      {"ldm.l", "0120 6D 7T", Op::kLdm, L, SpPop(), List('T', 3), 2, 1},
      {"ldm.l", "0130 6D 7T", Op::kLdm, L, SpPop(), List('T', 4), 2, 1},
      {"stm.l", "0110 6D FS", Op::kStm, L, List('S', 2), SpPush(), 2, 1},
      {"stm.l", "0120 6D FS", Op::kStm, L, List('S', 3), SpPush(), 2, 1},
      {"stm.l", "0130 6D FS", Op::kStm, L, List('S', 4), SpPush(), 2, 1},
      // EEPMOV: 2n + 2 byte accesses for n bytes; the 2 beyond the moves are
      // counted as internal states.
      {"eepmov.b", "7B5C 598F", Op::kEepmovB, X, None(), None(), 2, 2},
      {"eepmov.w", "7BD4 598F", Op::kEepmovW, X, None(), None(), 2, 2},

      // Arithmetic.
      {"add.b", "08 sd", Op::kAdd, B, RB('s'), RB('d'), 1, 0},
      {"add.b", "8d ii", Op::kAdd, B, Imm('i'), RB('d'), 1, 0},
      {"add.w", "09 sd", Op::kAdd, W, RW('s'), RW('d'), 1, 0},
      {"add.w", "79 1d iiii", Op::kAdd, W, Imm('i'), RW('d'), 2, 0},
      {"add.l", "0A +S T", Op::kAdd, L, RL('S'), RL('T'), 1, 0},
      {"add.l", "7A 1T iiiiiiii", Op::kAdd, L, Imm('i'), RL('T'), 3, 0},
      {"addx", "0E sd", Op::kAddx, B, RB('s'), RB('d'), 1, 0},
      {"addx", "9d ii", Op::kAddx, B, Imm('i'), RB('d'), 1, 0},
      {"adds", "0B 0T", Op::kAdds, L, K(1), RL('T'), 1, 0},
      {"adds", "0B 8T", Op::kAdds, L, K(2), RL('T'), 1, 0},
      {"adds", "0B 9T", Op::kAdds, L, K(4), RL('T'), 1, 0},
      {"inc", "0A 0d", Op::kInc, B, None(), RB('d'), 1, 0},
      {"inc.w", "0B 5d", Op::kInc, W, K(1), RW('d'), 1, 0},
      {"inc.w", "0B Dd", Op::kInc, W, K(2), RW('d'), 1, 0},
      {"inc.l", "0B 7T", Op::kInc, L, K(1), RL('T'), 1, 0},
      {"inc.l", "0B FT", Op::kInc, L, K(2), RL('T'), 1, 0},
      {"daa", "0F 0d", Op::kDaa, B, None(), RB('d'), 1, 0},
      {"sub.b", "18 sd", Op::kSub, B, RB('s'), RB('d'), 1, 0},
      {"sub.w", "19 sd", Op::kSub, W, RW('s'), RW('d'), 1, 0},
      {"sub.w", "79 3d iiii", Op::kSub, W, Imm('i'), RW('d'), 2, 0},
      {"sub.l", "1A +S T", Op::kSub, L, RL('S'), RL('T'), 1, 0},
      {"sub.l", "7A 3T iiiiiiii", Op::kSub, L, Imm('i'), RL('T'), 3, 0},
      {"subx", "1E sd", Op::kSubx, B, RB('s'), RB('d'), 1, 0},
      {"subx", "Bd ii", Op::kSubx, B, Imm('i'), RB('d'), 1, 0},
      {"subs", "1B 0T", Op::kSubs, L, K(1), RL('T'), 1, 0},
      {"subs", "1B 8T", Op::kSubs, L, K(2), RL('T'), 1, 0},
      {"subs", "1B 9T", Op::kSubs, L, K(4), RL('T'), 1, 0},
      {"dec.b", "1A 0d", Op::kDec, B, None(), RB('d'), 1, 0},
      {"dec.w", "1B 5d", Op::kDec, W, K(1), RW('d'), 1, 0},
      {"dec.w", "1B Dd", Op::kDec, W, K(2), RW('d'), 1, 0},
      {"dec.l", "1B 7T", Op::kDec, L, K(1), RL('T'), 1, 0},
      {"dec.l", "1B FT", Op::kDec, L, K(2), RL('T'), 1, 0},
      {"das", "1F 0d", Op::kDas, B, None(), RB('d'), 1, 0},
      // The H8S/2000 CPU's multiply (it has no multiplier of its own): MULXU.B
      // 12 states, .W 20, as long as the divides; MULXS one fetch more.
      {"mulxu.b", "50 sd", Op::kMulxu, B, RB('s'), RW('d'), 1, 11},
      {"mulxu.w", "52 sT", Op::kMulxu, W, RW('s'), RL('T'), 1, 19},
      {"mulxs.b", "01C0 50 sd", Op::kMulxs, B, RB('s'), RW('d'), 2, 11},
      {"mulxs.w", "01C0 52 sT", Op::kMulxs, W, RW('s'), RL('T'), 2, 19},
      {"divxu.b", "51 sd", Op::kDivxu, B, RB('s'), RW('d'), 1, 11},
      {"divxu.w", "53 sT", Op::kDivxu, W, RW('s'), RL('T'), 1, 19},
      {"divxs.b", "01D0 51 sd", Op::kDivxs, B, RB('s'), RW('d'), 2, 11},
      {"divxs.w", "01D0 53 sT", Op::kDivxs, W, RW('s'), RL('T'), 2, 19},
      {"cmp.b", "1C sd", Op::kCmp, B, RB('s'), RB('d'), 1, 0},
      {"cmp.b", "Ad ii", Op::kCmp, B, Imm('i'), RB('d'), 1, 0},
      {"cmp.w", "1D sd", Op::kCmp, W, RW('s'), RW('d'), 1, 0},
      {"cmp.w", "79 2d iiii", Op::kCmp, W, Imm('i'), RW('d'), 2, 0},
      {"cmp.l", "1F +S T", Op::kCmp, L, RL('S'), RL('T'), 1, 0},
      {"cmp.l", "7A 2T iiiiiiii", Op::kCmp, L, Imm('i'), RL('T'), 3, 0},
      {"neg.b", "17 8d", Op::kNeg, B, None(), RB('d'), 1, 0},
      {"neg.w", "17 9d", Op::kNeg, W, None(), RW('d'), 1, 0},
      {"neg.l", "17 BT", Op::kNeg, L, None(), RL('T'), 1, 0},
      {"extu.w", "17 5d", Op::kExtu, W, None(), RW('d'), 1, 0},
      {"extu.l", "17 7T", Op::kExtu, L, None(), RL('T'), 1, 0},
      {"exts.w", "17 Dd", Op::kExts, W, None(), RW('d'), 1, 0},
      {"exts.l", "17 FT", Op::kExts, L, None(), RL('T'), 1, 0},
      {"tas", "01E0 7B TC", Op::kTas, B, None(), Ind('T'), 2, 0},

      // Logic.
      {"and.b", "16 sd", Op::kAnd, B, RB('s'), RB('d'), 1, 0},
      {"and.b", "Ed ii", Op::kAnd, B, Imm('i'), RB('d'), 1, 0},
      {"and.w", "66 sd", Op::kAnd, W, RW('s'), RW('d'), 1, 0},
      {"and.w", "79 6d iiii", Op::kAnd, W, Imm('i'), RW('d'), 2, 0},
      {"and.l", "01F0 66 ST", Op::kAnd, L, RL('S'), RL('T'), 2, 0},
      {"and.l", "7A 6T iiiiiiii", Op::kAnd, L, Imm('i'), RL('T'), 3, 0},
      {"or.b", "14 sd", Op::kOr, B, RB('s'), RB('d'), 1, 0},
      {"or.b", "Cd ii", Op::kOr, B, Imm('i'), RB('d'), 1, 0},
      {"or.w", "64 sd", Op::kOr, W, RW('s'), RW('d'), 1, 0},
      {"or.w", "79 4d iiii", Op::kOr, W, Imm('i'), RW('d'), 2, 0},
      {"or.l", "01F0 64 ST", Op::kOr, L, RL('S'), RL('T'), 2, 0},
      {"or.l", "7A 4T iiiiiiii", Op::kOr, L, Imm('i'), RL('T'), 3, 0},
      {"xor.b", "15 sd", Op::kXor, B, RB('s'), RB('d'), 1, 0},
      {"xor.b", "Dd ii", Op::kXor, B, Imm('i'), RB('d'), 1, 0},
      {"xor.w", "65 sd", Op::kXor, W, RW('s'), RW('d'), 1, 0},
      {"xor.w", "79 5d iiii", Op::kXor, W, Imm('i'), RW('d'), 2, 0},
      {"xor.l", "01F0 65 ST", Op::kXor, L, RL('S'), RL('T'), 2, 0},
      {"xor.l", "7A 5T iiiiiiii", Op::kXor, L, Imm('i'), RL('T'), 3, 0},
      {"not.b", "17 0d", Op::kNot, B, None(), RB('d'), 1, 0},
      {"not.w", "17 1d", Op::kNot, W, None(), RW('d'), 1, 0},
      {"not.l", "17 3T", Op::kNot, L, None(), RL('T'), 1, 0},

      // Branches. Bcc rows are added below, one per condition.
      {"jmp", "59 S0", Op::kJmp, X, None(), Ind('S'), 2, 0},
      {"jmp", "5A mmmmmm", Op::kJmp, X, None(), A24('m'), 2, 1},
      {"jmp", "5B mm", Op::kJmp, X, None(), MemInd('m'), 2, 1},
      {"jsr", "5D S0", Op::kJsr, X, None(), Ind('S'), 2, 0},
      {"jsr", "5E mmmmmm", Op::kJsr, X, None(), A24('m'), 2, 1},
      {"jsr", "5F mm", Op::kJsr, X, None(), MemInd('m'), 2, 0},
      {"bsr", "55 pp", Op::kBsr, X, None(), Pc8('p'), 2, 0},
      {"bsr", "5C 00 pppp", Op::kBsr, X, None(), Pc16('p'), 2, 1},
      {"rts", "5470", Op::kRts, X, None(), None(), 2, 1},
      {"rte", "5670", Op::kRte, X, None(), None(), 2, 1},
      {"trapa", "5700", Op::kTrapa, X, None(), K(0), 2, 2},
      {"trapa", "5710", Op::kTrapa, X, None(), K(1), 2, 2},
      {"trapa", "5720", Op::kTrapa, X, None(), K(2), 2, 2},
      {"trapa", "5730", Op::kTrapa, X, None(), K(3), 2, 2},

      // System control.
      {"ldc", "07 ii", Op::kLdc, B, Imm('i'), Ccr(), 1, 0},
      {"ldc", "0141 07 ii", Op::kLdc, B, Imm('i'), Exr(), 2, 0},
      {"ldc", "03 0s", Op::kLdc, B, RB('s'), Ccr(), 1, 0},
      {"ldc", "03 1s", Op::kLdc, B, RB('s'), Exr(), 1, 0},
      {"stc", "02 0d", Op::kStc, B, Ccr(), RB('d'), 1, 0},
      {"stc", "02 1d", Op::kStc, B, Exr(), RB('d'), 1, 0},
      {"andc", "06 ii", Op::kAndc, B, Imm('i'), Ccr(), 1, 0},
      {"andc", "0141 06 ii", Op::kAndc, B, Imm('i'), Exr(), 2, 0},
      {"orc", "04 ii", Op::kOrc, B, Imm('i'), Ccr(), 1, 0},
      {"orc", "0141 04 ii", Op::kOrc, B, Imm('i'), Exr(), 2, 0},
      {"xorc", "05 ii", Op::kXorc, B, Imm('i'), Ccr(), 1, 0},
      {"xorc", "0141 05 ii", Op::kXorc, B, Imm('i'), Exr(), 2, 0},
      {"nop", "0000", Op::kNop, X, None(), None(), 1, 0},
      // SLEEP: its fetch and one internal state before the core stops.
      {"sleep", "0180", Op::kSleep, X, None(), None(), 1, 1},
  };

  // LDC/STC with memory, for CCR (01 40) and EXR (01 41): word accesses.
  for (int exr = 0; exr < 2; ++exr) {
    const Operand cr = exr ? Exr() : Ccr();
    const std::string p = exr ? "0141 " : "0140 ";
    static std::vector<std::string> keep;  // patterns must outlive the table
    auto pat = [&](const char* tail) {
      keep.push_back(p + tail);
      return keep.back().c_str();
    };
    keep.reserve(64);
    const F mem[] = {
        {"ldc", pat("69 S0"), Op::kLdc, W, Ind('S'), cr, 2, 0},
        {"stc", pat("69 +T0"), Op::kStc, W, cr, Ind('T'), 2, 0},
        {"ldc", pat("6F S0 kkkk"), Op::kLdc, W, D16('S', 'k'), cr, 3, 0},
        {"stc", pat("6F +T0 kkkk"), Op::kStc, W, cr, D16('T', 'k'), 3, 0},
        {"ldc", pat("78 S0 6B20 kkkkkkkk"), Op::kLdc, W, D32('S', 'k'), cr, 5, 0},
        {"stc", pat("78 T0 6BA0 kkkkkkkk"), Op::kStc, W, cr, D32('T', 'k'), 5, 0},
        {"ldc", pat("6D S0"), Op::kLdc, W, PostInc('S'), cr, 2, 1},
        {"stc", pat("6D +T0"), Op::kStc, W, cr, PreDec('T'), 2, 1},
        {"ldc", pat("6B00 mmmm"), Op::kLdc, W, A16('m'), cr, 3, 0},
        {"stc", pat("6B80 mmmm"), Op::kStc, W, cr, A16('m'), 3, 0},
        {"ldc", pat("6B20 mmmmmmmm"), Op::kLdc, W, A32('m'), cr, 4, 0},
        {"stc", pat("6BA0 mmmmmmmm"), Op::kStc, W, cr, A32('m'), 4, 0},
    };
    t.insert(t.end(), std::begin(mem), std::end(mem));
  }

  // Bcc: 4c pp (d:8, 2 states) and 58 c0 pppp (d:16, 3 states).
  static const char* const kBranch[16] = {"bra", "brn", "bhi", "bls", "bcc", "bcs", "bne", "beq",
                                          "bvc", "bvs", "bpl", "bmi", "bge", "blt", "bgt", "ble"};
  static const char* const kHex = "0123456789ABCDEF";
  static std::vector<std::string> branchPatterns;
  branchPatterns.reserve(32);
  for (int c = 0; c < 16; ++c) {
    branchPatterns.push_back(std::string("4") + kHex[c] + " pp");
    F short8{kBranch[c], branchPatterns.back().c_str(), Op::kBcc, X, None(), Pc8('p'), 2, 0};
    short8.condition = static_cast<std::uint8_t>(c);
    t.push_back(short8);
    branchPatterns.push_back(std::string("58 ") + kHex[c] + "0 pppp");
    F long16{kBranch[c], branchPatterns.back().c_str(), Op::kBcc, X, None(), Pc16('p'), 2, 1};
    long16.condition = static_cast<std::uint8_t>(c);
    t.push_back(long16);
  }

  // Shifts and rotates: 10-13, second byte's top nibble 0/1/3 (.b/.w/.l,
  // one bit) and 4/5/7 (two bits), plus 8 for the second operation.
  struct ShiftFamily {
    char code;
    const char* names[2];
    Op ops[2];
  };
  static const ShiftFamily kShifts[] = {
      {'0', {"shll", "shal"}, {Op::kShll, Op::kShal}},
      {'1', {"shlr", "shar"}, {Op::kShlr, Op::kShar}},
      {'2', {"rotxl", "rotl"}, {Op::kRotxl, Op::kRotl}},
      {'3', {"rotxr", "rotr"}, {Op::kRotxr, Op::kRotr}},
  };
  static std::vector<std::string> shiftText;
  shiftText.reserve(4 * 2 * 6 * 2);
  for (const ShiftFamily& fam : kShifts) {
    for (int second = 0; second < 2; ++second) {
      for (int twice = 0; twice < 2; ++twice) {
        for (Size size : {B, W, L}) {
          const int sizeCode = size == B ? 0 : size == W ? 1 : 3;
          const int nibble = sizeCode + 4 * twice + 8 * second;
          shiftText.push_back(std::string(fam.names[second]) + (size == B   ? ".b"
                                                                : size == W ? ".w"
                                                                            : ".l"));
          const char* name = shiftText.back().c_str();
          shiftText.push_back(std::string("1") + fam.code + " " + kHex[nibble] +
                              (size == L ? "T" : "d"));
          const Operand reg = size == B ? RB('d') : size == W ? RW('d') : RL('T');
          t.push_back(F{name, shiftText.back().c_str(), fam.ops[second], size,
                        twice ? K(2) : None(), reg, 1, 0});
        }
      }
    }
  }

  // Bit instructions. Register forms: 7x/6x with the bit number or register
  // in the second byte's top nibble. Memory forms: a prefix naming the
  // operand (@ERd, @aa:8, @aa:16, @aa:32; read-only operations and those
  // that write have separate prefixes), then the same op byte with the bit
  // field in the top nibble and 0 below.
  struct BitOp {
    const char* name;
    Op op;
    const char* code;  // the op byte and the first char of the bit nibble
    bool byRegister;
    bool writes;
  };
  static const BitOp kBitOps[] = {
      {"bset", Op::kBset, "70 I", false, true},  {"bset", Op::kBset, "60 r", true, true},
      {"bnot", Op::kBnot, "71 I", false, true},  {"bnot", Op::kBnot, "61 r", true, true},
      {"bclr", Op::kBclr, "72 I", false, true},  {"bclr", Op::kBclr, "62 r", true, true},
      {"btst", Op::kBtst, "73 I", false, false}, {"btst", Op::kBtst, "63 r", true, false},
      {"bor", Op::kBor, "74 I", false, false},   {"bior", Op::kBior, "74 +I", false, false},
      {"bxor", Op::kBxor, "75 I", false, false}, {"bixor", Op::kBixor, "75 +I", false, false},
      {"band", Op::kBand, "76 I", false, false}, {"biand", Op::kBiand, "76 +I", false, false},
      {"bld", Op::kBld, "77 I", false, false},   {"bild", Op::kBild, "77 +I", false, false},
      {"bst", Op::kBst, "67 I", false, true},    {"bist", Op::kBist, "67 +I", false, true},
  };
  static std::vector<std::string> bitText;
  bitText.reserve(std::size(kBitOps) * 5);
  for (const BitOp& b : kBitOps) {
    const Operand bit = b.byRegister ? RB('r') : Bit('I');
    // A read-modify-write costs two data accesses, counted as they happen.
    bitText.push_back(std::string(b.code) + "d");
    t.push_back(F{b.name, bitText.back().c_str(), b.op, B, bit, RB('d'), 1, 0});
    bitText.push_back(std::string(b.writes ? "7D T0 " : "7C T0 ") + b.code + "0");
    t.push_back(F{b.name, bitText.back().c_str(), b.op, B, bit, Ind('T'), 2, 0});
    bitText.push_back(std::string(b.writes ? "7F mm " : "7E mm ") + b.code + "0");
    t.push_back(F{b.name, bitText.back().c_str(), b.op, B, bit, A8('m'), 2, 0});
    bitText.push_back(std::string(b.writes ? "6A18 mmmm " : "6A10 mmmm ") + b.code + "0");
    t.push_back(F{b.name, bitText.back().c_str(), b.op, B, bit, A16('m'), 3, 0});
    bitText.push_back(std::string(b.writes ? "6A38 mmmmmmmm " : "6A30 mmmmmmmm ") + b.code + "0");
    t.push_back(F{b.name, bitText.back().c_str(), b.op, B, bit, A32('m'), 4, 0});
  }
  return t;
}

// Fills in a row's derived fields from its pattern.
void Compile(InstructionForm& f) {
  unsigned n = 0;
  int firstNibble[128];
  std::fill(std::begin(firstNibble), std::end(firstNibble), -1);
  bool topSet = false;
  for (const char* c = f.pattern; *c != '\0'; ++c) {
    const char ch = *c;
    if (ch == ' ') continue;
    if (ch == '+') {
      topSet = true;
      continue;
    }
    if (n >= 20) throw std::logic_error(std::string("pattern too long: ") + f.pattern);
    unsigned bits = 0;
    unsigned mask = 0;
    if (std::isdigit(static_cast<unsigned char>(ch)) || (ch >= 'A' && ch <= 'F')) {
      bits = static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
                                                                                : ch - 'A' + 10);
      mask = 0xF;
    } else if (ch >= 'G' && ch <= 'Z') {
      bits = topSet ? 8 : 0;
      mask = 8;
    } else if (ch >= 'a' && ch <= 'z') {
      mask = 0;
    } else {
      throw std::logic_error(std::string("bad pattern: ") + f.pattern);
    }
    topSet = false;
    if (std::isalpha(static_cast<unsigned char>(ch)) && !(ch >= 'A' && ch <= 'F') &&
        firstNibble[static_cast<int>(ch)] < 0) {
      firstNibble[static_cast<int>(ch)] = static_cast<int>(n);
    }
    const unsigned shift = (n & 1) ? 0 : 4;
    f.bits[n / 2] |= static_cast<std::uint8_t>(bits << shift);
    f.mask[n / 2] |= static_cast<std::uint8_t>(mask << shift);
    ++n;
  }
  if (n % 4 != 0) throw std::logic_error(std::string("pattern not whole words: ") + f.pattern);
  f.length = static_cast<std::uint8_t>(n / 2);
  for (Operand* o : {&f.src, &f.dst}) {
    if (o->reg != 0) {
      if (firstNibble[static_cast<int>(o->reg)] < 0) throw std::logic_error(f.pattern);
      o->regNibble = static_cast<std::uint8_t>(firstNibble[static_cast<int>(o->reg)]);
    }
    if (o->ext != 0) {
      if (firstNibble[static_cast<int>(o->ext)] < 0) throw std::logic_error(f.pattern);
      o->extNibble = static_cast<std::uint8_t>(firstNibble[static_cast<int>(o->ext)]);
    }
  }
}

int FixedBits(const InstructionForm& f) {
  int count = 0;
  for (unsigned i = 0; i < f.length; ++i) count += std::popcount(f.mask[i]);
  return count;
}

struct Table {
  std::vector<InstructionForm> forms;
  // For each first word: the candidates (most fixed bits first).
  std::vector<std::uint16_t> groupOf;  // 65536 entries, index into groups
  std::vector<std::vector<const InstructionForm*>> groups;
  std::vector<const InstructionForm*> single;  // 65536 entries
  std::vector<bool> twoWords;                  // 65536 entries

  Table() : forms(Rows()), groupOf(65536, 0), single(65536, nullptr), twoWords(65536, false) {
    for (InstructionForm& f : forms) Compile(f);
    groups.emplace_back();  // group 0: no instruction
    // Bucket by first byte, then resolve each second byte.
    std::vector<const InstructionForm*> byFirst[256];
    for (const InstructionForm& f : forms) {
      for (unsigned b0 = 0; b0 < 256; ++b0) {
        if ((b0 & f.mask[0]) == f.bits[0]) byFirst[b0].push_back(&f);
      }
    }
    for (unsigned w = 0; w < 65536; ++w) {
      const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(w >> 8),
                                     static_cast<std::uint8_t>(w)};
      std::vector<const InstructionForm*> c;
      for (const InstructionForm* f : byFirst[bytes[0]]) {
        if ((bytes[1] & f->mask[1]) == f->bits[1]) c.push_back(f);
      }
      if (c.empty()) continue;
      std::stable_sort(c.begin(), c.end(), [](const InstructionForm* a, const InstructionForm* b) {
        return FixedBits(*a) > FixedBits(*b);
      });
      bool decidedByFirstWord = c.size() == 1;
      for (unsigned i = 2; decidedByFirstWord && i < c[0]->length; ++i) {
        if (c[0]->mask[i] != 0) decidedByFirstWord = false;
      }
      if (decidedByFirstWord) single[w] = c[0];
      bool two = true;
      for (const InstructionForm* f : c) {
        for (unsigned i = 4; i < f->length; ++i) two = two && f->mask[i] == 0;
      }
      twoWords[w] = two;
      groupOf[w] = static_cast<std::uint16_t>(groups.size());
      groups.push_back(std::move(c));
    }
  }
};

const Table& TheTable() {
  static const Table table;
  return table;
}

}  // namespace

std::span<const InstructionForm> InstructionForms() {
  return TheTable().forms;
}

const InstructionForm* const* FirstWordForms() {
  return TheTable().single.data();
}

bool DecidedByTwoWords(std::uint16_t firstWord) {
  return TheTable().twoWords[firstWord];
}

const InstructionForm* DecodeInstruction(const std::uint8_t* bytes, int* wordsExamined) {
  const Table& t = TheTable();
  const unsigned w = static_cast<unsigned>(bytes[0]) << 8 | bytes[1];
  int examined = 1;
  const InstructionForm* found = nullptr;
  for (const InstructionForm* f : t.groups[t.groupOf[w]]) {
    unsigned i = 2;
    while (i < f->length && (bytes[i] & f->mask[i]) == f->bits[i]) ++i;
    if (i == f->length) {
      found = f;
      break;
    }
    // The word that ruled this form out.
    examined = std::max(examined, static_cast<int>(i / 2 + 1));
  }
  if (wordsExamined != nullptr) *wordsExamined = examined;
  return found;
}

}  // namespace vantor::board
