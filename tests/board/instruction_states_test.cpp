// The instruction fetches (I) and internal states (N) of every form in the
// table, against the programming manual's table of cycles per instruction
// for the H8S/2600 in advanced mode. Data, stack and branch-address accesses
// are counted as the core makes them; the assembled programs of the other
// tests check those.
#include <gtest/gtest.h>

#include <string>

#include "board/instruction_table.h"

namespace vantor::board::test {
namespace {

struct Expected {
  unsigned fetches;
  unsigned internal;
};

bool Stepped(Mode m) {
  return m == Mode::kPostInc || m == Mode::kPreDec;
}

// What the manual lists for a form. Most instructions fetch each of their
// words once and spend no internal state; the rest are listed here.
Expected FromTheManual(const InstructionForm& f) {
  Expected e{f.length / 2u, 0};
  switch (f.op) {
    case Op::kBcc:
      // Bcc d:8 2 fetches, taken or not (the second at the target or at the
      // next instruction); d:16 2 fetches and 1 internal state.
      return {2, f.dst.mode == Mode::kPcRel16 ? 1u : 0u};
    case Op::kBsr:
      return {2, f.dst.mode == Mode::kPcRel16 ? 1u : 0u};  // and 2 stack words
    case Op::kJmp:
      // @ERn 2; @aa:24 2 + 1 internal; @@aa:8 2 + the branch address (2
      // words) + 1 internal.
      return {2, f.dst.mode == Mode::kInd ? 0u : 1u};
    case Op::kJsr:
      // As JMP with 2 stack words, except @@aa:8, which has no internal state.
      return {2, f.dst.mode == Mode::kAbs24 ? 1u : 0u};
    case Op::kRts:
    case Op::kRte:
      return {2, 1};  // and 2 stack words (RTE: 3 with EXR)
    case Op::kTrapa:
      return {2, 2};  // and 2 vector words, 2 stack words (3 with EXR)
    case Op::kSleep:
      return {1, 1};
    case Op::kLdm:
    case Op::kStm:
      return {2, 1};  // and 2 stack words per register
    case Op::kEepmovB:
    case Op::kEepmovW:
      // 2 fetches and 2n + 2 byte accesses; the core makes the 2n moves and
      // counts the other two as internal states.
      return {2, 2};
    case Op::kMulxu:  // the H8S/2000 CPU: as long as the divides
    case Op::kMulxs:
    case Op::kDivxu:
    case Op::kDivxs:
      e.internal = f.size == Size::kByte ? 11 : 19;
      return e;
    default:
      break;
  }
  // @ERn+ and @-ERn (MOV, LDC, STC, and so PUSH and POP): 1 internal state.
  if (Stepped(f.src.mode) || Stepped(f.dst.mode)) e.internal = 1;
  return e;
}

std::string Describe(const InstructionForm& f) {
  return std::string(f.mnemonic) + " \"" + f.pattern + "\"";
}

TEST(InstructionStates, EveryFormAsTheManualLists) {
  unsigned checked = 0;
  for (const InstructionForm& f : InstructionForms()) {
    const Expected e = FromTheManual(f);
    EXPECT_EQ(f.fetches, e.fetches) << Describe(f);
    EXPECT_EQ(f.internal, e.internal) << Describe(f);
    ++checked;
  }
  EXPECT_GT(checked, 300u);
}

// Spot checks of the rule above against figures quoted from the manual's
// table, so that the rule itself cannot drift.
TEST(InstructionStates, QuotedRows) {
  struct Row {
    const char* mnemonic;
    Mode src;
    Mode dst;
    unsigned fetches;
    unsigned internal;
  };
  const Row rows[] = {
      {"mov.l", Mode::kDisp32, Mode::kRegL, 5, 0},  // MOV.L @(d:32,ERs),ERd
      {"mov.l", Mode::kPostInc, Mode::kRegL, 2, 1}, {"mov.b", Mode::kAbs8, Mode::kRegB, 1, 0},
      {"ldc", Mode::kDisp32, Mode::kCcr, 5, 0},     {"stc", Mode::kCcr, Mode::kPreDec, 2, 1},
      {"ldc", Mode::kImm, Mode::kExr, 2, 0},        {"bset", Mode::kBitNum, Mode::kAbs8, 2, 0},
      {"btst", Mode::kBitNum, Mode::kAbs32, 4, 0},  {"and.l", Mode::kRegL, Mode::kRegL, 2, 0},
      {"mulxs.w", Mode::kRegW, Mode::kRegL, 2, 19}, {"divxs.b", Mode::kRegB, Mode::kRegW, 2, 11},
      {"jmp", Mode::kNone, Mode::kMemInd, 2, 1},    {"jsr", Mode::kNone, Mode::kMemInd, 2, 0},
      {"sleep", Mode::kNone, Mode::kNone, 1, 1},
  };
  for (const Row& r : rows) {
    bool found = false;
    for (const InstructionForm& f : InstructionForms()) {
      if (std::string(f.mnemonic) != r.mnemonic || f.src.mode != r.src || f.dst.mode != r.dst)
        continue;
      found = true;
      const Expected e = FromTheManual(f);
      EXPECT_EQ(e.fetches, r.fetches) << Describe(f);
      EXPECT_EQ(e.internal, r.internal) << Describe(f);
    }
    EXPECT_TRUE(found) << r.mnemonic;
  }
}

}  // namespace
}  // namespace vantor::board::test
