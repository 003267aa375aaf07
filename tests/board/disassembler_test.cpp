// The disassembler against h8300-hms-objdump: over every instruction of the
// test programs, and over a generated list of every form and operand size
// the table knows, assembled by the assembler (which also shows that every
// row of the table decodes what the assembler emits for it).
#include "board/disassembler.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/board/h8_toolchain.h"
#include "tests/board/test_programs.h"

namespace vantor::board::test {
namespace {

// Compares each objdump line of `a` with our disassembly; returns the forms
// seen. Lines objdump prints for data (unknown patterns) are skipped.
std::set<const InstructionForm*> Compare(const Assembled& a, const std::string& label) {
  std::set<const InstructionForm*> seen;
  std::vector<std::uint8_t> bytes = a.image;
  bytes.resize(bytes.size() + 16, 0);
  const auto lines = Objdump(a.elfPath);
  EXPECT_FALSE(lines.empty()) << label;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ObjdumpLine& l = lines[i];
    if (l.text.find("unknown") != std::string::npos || l.text[0] == '.') continue;
    const std::uint32_t offset = l.address - a.origin;
    if (offset >= a.image.size()) continue;
    const Disassembly d = Disassemble(bytes.data() + offset, l.address);
    std::string ours = d.text;
    while (!ours.empty() && ours.back() == '\t') ours.pop_back();
    EXPECT_EQ(ours, l.text) << label << " at " << std::hex << l.address;
    if (i + 1 < lines.size() && d.form != nullptr) {
      // objdump folds runs of zero bytes into "...": only zeros may lie
      // between our instruction's end and its next line.
      const std::uint32_t next = lines[i + 1].address - a.origin;
      EXPECT_LE(offset + d.length, next) << label << ": " << l.text;
      for (std::uint32_t k = offset + d.length; k < next && k < a.image.size(); ++k) {
        EXPECT_EQ(a.image[k], 0) << label << ": " << l.text << " is longer than we decode";
      }
    }
    if (d.form != nullptr) seen.insert(d.form);
  }
  return seen;
}

TEST(Disassembler, MatchesObjdumpOnEveryTestProgram) {
  REQUIRE_H8_TOOLCHAIN();
  int n = 0;
  for (const std::string& program : AllPrograms()) {
    const Assembled& a = Assemble(program, TestBoard::kRam);
    ASSERT_TRUE(a.ok) << a.log;
    Compare(a, "program " + std::to_string(n++));
  }
}

// Every form, with a spread of registers and operand values.
std::string SweepProgram() {
  const char* const r8[] = {"r0h", "r3l", "r7l"};
  const char* const r16[] = {"r0", "e3", "r7"};
  const char* const r32[] = {"er0", "er3", "er6"};
  std::string s;
  auto line = [&](const std::string& text) { s += "\t" + text + "\n"; };
  for (int i = 0; i < 3; ++i) {
    const std::string b = r8[i], b2 = r8[(i + 1) % 3];
    const std::string w = r16[i], w2 = r16[(i + 1) % 3];
    const std::string l = r32[i], l2 = r32[(i + 1) % 3];
    for (const char* op : {"add", "sub", "cmp", "and", "or", "xor", "mov"}) {
      line(std::string(op) + ".b " + b + "," + b2);
      line(std::string(op) + ".w " + w + "," + w2);
      line(std::string(op) + ".l " + l + "," + l2);
      line(std::string(op) + ".w #0x" + std::to_string(1234 + i) + "," + w);
      line(std::string(op) + ".l #0x12345" + std::to_string(i) + "," + l);
      if (std::string(op) != "sub")
        line(std::string(op) + ".b #0x" + std::to_string(10 + i) + "," + b);
    }
    for (const char* op : {"addx", "subx"}) {
      line(std::string(op) + " " + b + "," + b2);
      line(std::string(op) + " #0x7f," + b);
    }
    for (const char* n : {"#1", "#2", "#4"}) {
      line(std::string("adds ") + n + "," + l);
      line(std::string("subs ") + n + "," + l);
    }
    line("inc " + b);
    line("dec " + b);
    for (const char* n : {"#1", "#2"}) {
      for (const char* op : {"inc", "dec"}) {
        line(std::string(op) + ".w " + n + "," + w);
        line(std::string(op) + ".l " + n + "," + l);
      }
    }
    line("daa " + b);
    line("das " + b);
    for (const char* op : {"mulxu", "mulxs", "divxu", "divxs"}) {
      line(std::string(op) + ".b " + b + "," + w);
      line(std::string(op) + ".w " + w + "," + l);
    }
    for (const char* op : {"neg", "not"}) {
      line(std::string(op) + ".b " + b);
      line(std::string(op) + ".w " + w);
      line(std::string(op) + ".l " + l);
    }
    for (const char* op : {"extu", "exts"}) {
      line(std::string(op) + ".w " + w);
      line(std::string(op) + ".l " + l);
    }
    line("tas @" + l);
    for (const char* op : {"shal", "shar", "shll", "shlr", "rotl", "rotr", "rotxl", "rotxr"}) {
      for (const char* count : {"", "#2,"}) {
        line(std::string(op) + ".b " + count + b);
        line(std::string(op) + ".w " + count + w);
        line(std::string(op) + ".l " + count + l);
      }
    }
    // Moves in every addressing mode and size.
    const std::string regs[3] = {b, w, l};
    const char* const sizes[3] = {".b", ".w", ".l"};
    for (int z = 0; z < 3; ++z) {
      const std::string m = std::string("mov") + sizes[z] + " ";
      const std::string r = regs[z];
      line(m + "@" + l2 + "," + r);
      line(m + r + ",@" + l2);
      line(m + "@(0x" + std::to_string(10 + i) + ":16," + l2 + ")," + r);
      line(m + r + ",@(-2:16," + l2 + ")");
      line(m + "@(0x123456:32," + l2 + ")," + r);
      line(m + r + ",@(0x80000000:32," + l2 + ")");
      line(m + "@" + l2 + "+," + r);
      line(m + r + ",@-" + l2);
      line(m + "@0x1234:16," + r);
      line(m + r + ",@0xfffe00:16");
      line(m + "@0x123456:32," + r);
      line(m + r + ",@0xffff00:32");
    }
    line("mov.b @0xffff12:8," + b);
    line("mov.b " + b + ",@0xfffffe:8");
    line("push.w " + w);
    line("pop.w " + w);
    line("push.l " + l);
    line("pop.l " + l);
    line("jmp @" + l);
    line("jsr @" + l);
    line("ldc " + b + ",ccr");
    line("ldc " + b + ",exr");
    line("stc ccr," + b);
    line("stc exr," + b);
    // Bit instructions in every operand form.
    const std::string bit = "#" + std::to_string(i * 3) + ",";
    const std::string bitReg = b2 + ",";
    const std::string targets[] = {b, "@" + l, "@0xffff20:8", "@0x1234:16", "@0x123456:32"};
    for (const char* op : {"bset", "bclr", "bnot", "btst"}) {
      for (const std::string& t : targets) {
        line(std::string(op) + " " + bit + t);
        line(std::string(op) + " " + bitReg + t);
      }
    }
    for (const char* op :
         {"band", "biand", "bor", "bior", "bxor", "bixor", "bld", "bild", "bst", "bist"}) {
      for (const std::string& t : targets) line(std::string(op) + " " + bit + t);
    }
  }
  for (const char* list : {"er0-er1", "er2-er3", "er4-er5", "er0-er2", "er4-er6", "er0-er3"}) {
    line(std::string("stm.l ") + list + ",@-sp");
    line(std::string("ldm.l @sp+,") + list);
  }
  for (const char* cr : {"ccr", "exr"}) {
    const std::string c = cr;
    for (const char* op : {"ldc", "andc", "orc", "xorc"}) line(std::string(op) + " #0x5a," + c);
    line("ldc @er2," + c);
    line("stc " + c + ",@er2");
    line("ldc @(0x1234:16,er3)," + c);
    line("stc " + c + ",@(-4:16,er3)");
    line("ldc @(0x123456:32,er4)," + c);
    line("stc " + c + ",@(0x123456:32,er4)");
    line("ldc @er5+," + c);
    line("stc " + c + ",@-er5");
    line("ldc @0x1234:16," + c);
    line("stc " + c + ",@0x1234:16");
    line("ldc @0x123456:32," + c);
    line("stc " + c + ",@0x123456:32");
  }
  int label = 0;
  for (const char* cc : {"bra", "brn", "bhi", "bls", "bcc", "bcs", "bne", "beq", "bvc", "bvs",
                         "bpl", "bmi", "bge", "blt", "bgt", "ble"}) {
    const std::string back = "b" + std::to_string(label);
    const std::string fwd = "f" + std::to_string(label++);
    s += back + ":\n";
    line(std::string(cc) + " " + back);
    line(std::string(cc) + " " + fwd);
    line(std::string(cc) + " " + back + ":16");
    line(std::string(cc) + " far:16");
    s += fwd + ":\n";
  }
  s += "back:\n";
  line("bsr back");
  line("bsr far:16");
  line("jmp @0x123456:24");
  line("jsr @far:24");
  line("jmp @@0x10:8");
  line("jsr @@0xfc:8");
  for (const char* n : {"#0", "#1", "#2", "#3"}) line(std::string("trapa ") + n);
  for (const char* op : {"rts", "rte", "nop", "sleep", "eepmov.b", "eepmov.w"}) line(op);
  line(".space 2000");
  s += "far:\n\tnop\n";
  return s;
}

TEST(Disassembler, SweepOfEveryFormMatchesObjdumpAndCoversTheTable) {
  REQUIRE_H8_TOOLCHAIN();
  const Assembled& a = Assemble(SweepProgram(), 0x1000);
  ASSERT_TRUE(a.ok) << a.log;
  const auto seen = Compare(a, "sweep");
  for (const InstructionForm& f : InstructionForms()) {
    EXPECT_TRUE(seen.count(&f) == 1)
        << "no assembled instruction decoded as " << f.mnemonic << " " << f.pattern;
  }
}

TEST(Disassembler, TextOfHandAssembledForms) {
  // Forms whose text has details of its own: implied constants in decimal,
  // @@aa:8 with its vector number, branch targets, register lists.
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::uint32_t at;
    const char* text;
  };
  const Case cases[] = {
      {{0x0B, 0x93}, 0, "adds\t#4,er3"},
      {{0x10, 0xD1}, 0, "shal.w\t#2,r1"},
      {{0x5B, 0x10}, 0, "jmp\t@@16 (0x10)"},
      {{0x43, 0xFC}, 0x20E, "bls\t.-4 (0x20c)"},
      {{0x40, 0x00}, 0x208, "bra\t.0 (0x20a)"},
      {{0x58, 0x00, 0x0F, 0xFC}, 0x228, "bra\t.+4092 (0x1228)"},
      {{0x01, 0x30, 0x6D, 0xF0}, 0, "stm.l\ter0-er3,@-sp"},
      {{0x01, 0x20, 0x6D, 0x76}, 0, "ldm.l\t@sp+,er4-er6"},
      {{0x7F, 0x20, 0x61, 0x90}, 0, "bnot\tr1l,@0x20:8"},
      {{0x6A, 0x38, 0x00, 0x12, 0x34, 0x56, 0x70, 0x30}, 0, "bset\t#0x3,@0x123456:32"},
      {{0x01, 0xA0}, 0, "(illegal) H'01A0"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = c.bytes;
    bytes.resize(16, 0);
    const Disassembly d = Disassemble(bytes.data(), c.at);
    EXPECT_EQ(d.text, c.text);
    if (d.form != nullptr) {
      EXPECT_EQ(d.length, c.bytes.size()) << c.text;
    }
  }
}

}  // namespace
}  // namespace vantor::board::test
