#include "board/disassembler.h"

#include <cstdio>
#include <initializer_list>
#include <string_view>

namespace vantor::board {
namespace {

std::uint32_t Ext(const std::uint8_t* b, unsigned nibble, unsigned bytes) {
  std::uint32_t v = 0;
  for (unsigned i = 0; i < bytes; ++i) v = v << 8 | b[nibble / 2 + i];
  return v;
}

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

std::string RegB(unsigned n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "r%u%c", n & 7, n < 8 ? 'h' : 'l');
  return buf;
}
std::string RegW(unsigned n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%c%u", n < 8 ? 'r' : 'e', n & 7);
  return buf;
}
std::string RegL(unsigned n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "er%u", n & 7);
  return buf;
}

// Concatenation without operator+ on literals (which GCC 12 warns about
// wrongly at -O2).
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string s;
  for (std::string_view p : parts) s.append(p);
  return s;
}

std::string Branch(std::int32_t disp, std::uint32_t next) {
  std::string s = ".";
  if (disp > 0) s += "+";
  s += std::to_string(disp);
  return Cat({s, " (", Hex(next + static_cast<std::uint32_t>(disp)), ")"});
}

std::string Format(const InstructionForm& f, const Operand& o, const std::uint8_t* b,
                   std::uint32_t address) {
  const unsigned r = Nibble(b, o.regNibble);
  const std::uint32_t next = address + f.length;
  switch (o.mode) {
    case Mode::kNone:
      return "";
    case Mode::kRegB:
      return RegB(r);
    case Mode::kRegW:
      return RegW(r);
    case Mode::kRegL:
      return RegL(r);
    case Mode::kImm: {
      const unsigned bytes = f.size == Size::kLong ? 4 : f.size == Size::kWord ? 2 : 1;
      return Cat({"#", Hex(Ext(b, o.extNibble, bytes))});
    }
    case Mode::kBitNum:
      return Cat({"#", Hex(r & 7)});
    case Mode::kConst:
      return Cat({"#", f.op == Op::kTrapa ? Hex(o.value) : std::to_string(o.value)});
    case Mode::kInd:
      return Cat({"@", RegL(r)});
    case Mode::kDisp16:
      return Cat({"@(", Hex(Ext(b, o.extNibble, 2)), ":16,", RegL(r), ")"});
    case Mode::kDisp32:
      return Cat({"@(", Hex(Ext(b, o.extNibble, 4)), ":32,", RegL(r), ")"});
    case Mode::kPostInc:
      return Cat({"@", RegL(r), "+"});
    case Mode::kPreDec:
      return Cat({"@-", RegL(r)});
    case Mode::kAbs8:
      return Cat({"@", Hex(Ext(b, o.extNibble, 1)), ":8"});
    case Mode::kAbs16:
      return Cat({"@", Hex(Ext(b, o.extNibble, 2)), ":16"});
    case Mode::kAbs24:
      return Cat({"@", Hex(Ext(b, o.extNibble, 3)), ":24"});
    case Mode::kAbs32:
      return Cat({"@", Hex(Ext(b, o.extNibble, 4)), ":32"});
    case Mode::kPcRel8:
      return Branch(static_cast<std::int8_t>(Ext(b, o.extNibble, 1)), next);
    case Mode::kPcRel16:
      return Branch(static_cast<std::int16_t>(Ext(b, o.extNibble, 2)), next);
    case Mode::kMemInd: {
      const std::uint32_t aa = Ext(b, o.extNibble, 1);
      return Cat({"@@", std::to_string(aa), " (", Hex(aa), ")"});
    }
    case Mode::kCcr:
      return "ccr";
    case Mode::kExr:
      return "exr";
    case Mode::kRegList: {
      // LDM names the last register of the list, STM the first.
      const unsigned last = f.op == Op::kLdm ? (r & 7) : (r & 7) + o.value - 1u;
      return Cat({RegL(last + 1u - o.value), "-", RegL(last)});
    }
    case Mode::kStackPop:
      return "@sp+";
    case Mode::kStackPush:
      return "@-sp";
  }
  return "";
}

}  // namespace

Disassembly Disassemble(const std::uint8_t* bytes, std::uint32_t address) {
  Disassembly d;
  d.form = DecodeInstruction(bytes);
  if (d.form == nullptr) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "(illegal) H'%02X%02X", bytes[0], bytes[1]);
    d.text = buf;
    return d;
  }
  const InstructionForm& f = *d.form;
  d.length = f.length;
  d.text = std::string(f.mnemonic) + "\t";
  const std::string src = Format(f, f.src, bytes, address);
  const std::string dst = Format(f, f.dst, bytes, address);
  // TRAPA keeps its number in the second operand slot of the table.
  d.text += src;
  if (!src.empty() && !dst.empty()) d.text += ",";
  d.text += dst;
  return d;
}

Disassembly Disassemble(const MemoryBus& bus, std::uint32_t address) {
  std::uint8_t bytes[10];
  for (unsigned i = 0; i < 10; ++i) bytes[i] = bus.Peek8(address + i);
  return Disassemble(bytes, address);
}

}  // namespace vantor::board
