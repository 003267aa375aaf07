// h8run: runs H8S machine code on the bare core, for debugging and for
// checks outside the test suite. See docs/h8run.md for the options and the
// output format.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board/cpu.h"
#include "board/disassembler.h"
#include "board/memory_bus.h"
#include "board/scheduler.h"

namespace {

using vantor::board::Cpu;
using vantor::board::MemoryBus;
using vantor::board::Region;
using vantor::board::Scheduler;
using vantor::board::StopReason;

struct Options {
  std::string file;
  std::uint32_t load = 0;
  bool pcGiven = false;
  std::uint32_t pc = 0;
  bool reset = false;
  std::uint32_t sp = 0xFFFF00;
  std::uint64_t states = 100'000'000;
  std::string format;  // "bin" or "srec"; empty: by content
  bool trace = false;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> dumps;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ram;  // empty: all of it
};

void Usage() {
  std::fputs(
      "usage: h8run [options] FILE\n"
      "  --load ADDR        load address of a raw binary (default 0)\n"
      "  --format bin|srec  file format (default: S-records if the file starts with 'S')\n"
      "  --pc ADDR          start address (default: an S-record file's entry record,\n"
      "                     else the load address)\n"
      "  --reset            start from the reset vector instead\n"
      "  --sp ADDR          initial ER7 (default H'FFFF00)\n"
      "  --states N         state limit (default 100000000)\n"
      "  --ram BASE:SIZE    map RAM only there (repeatable; default the whole space)\n"
      "  --dump ADDR:LEN    print memory after the run (repeatable)\n"
      "  --trace            print each instruction with its states\n"
      "numbers: decimal, 0x... or H'...\n",
      stderr);
}

bool ParseNumber(const std::string& text, std::uint64_t& value) {
  std::string t = text;
  int base = 10;
  if (t.rfind("H'", 0) == 0 || t.rfind("h'", 0) == 0) {
    t = t.substr(2);
    base = 16;
  } else if (t.rfind("0x", 0) == 0 || t.rfind("0X", 0) == 0) {
    t = t.substr(2);
    base = 16;
  }
  if (t.empty()) return false;
  char* end = nullptr;
  value = std::strtoull(t.c_str(), &end, base);
  return *end == '\0';
}

bool ParseRange(const std::string& text, std::pair<std::uint32_t, std::uint32_t>& range) {
  const auto colon = text.find(':');
  std::uint64_t a = 0;
  std::uint64_t n = 0;
  if (colon == std::string::npos || !ParseNumber(text.substr(0, colon), a) ||
      !ParseNumber(text.substr(colon + 1), n)) {
    return false;
  }
  range = {static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(n)};
  return true;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Loads S1/S2/S3 data records and takes the entry address from an S7, S8 or
// S9 record (`hasEntry` stays false without one); false on a malformed line
// or checksum.
bool LoadSrec(const std::string& text, MemoryBus& bus, bool& hasEntry, std::uint32_t& entry) {
  std::size_t pos = 0;
  int line = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string rec = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++line;
    while (!rec.empty() && (rec.back() == '\r' || rec.back() == ' ')) rec.pop_back();
    if (rec.empty()) continue;
    if (rec.size() < 4 || rec[0] != 'S' || rec.size() % 2 != 0) {
      std::fprintf(stderr, "h8run: line %d is no S-record\n", line);
      return false;
    }
    std::vector<int> bytes;
    for (std::size_t i = 2; i + 1 < rec.size(); i += 2) {
      const int hi = Hex(rec[i]);
      const int lo = Hex(rec[i + 1]);
      if (hi < 0 || lo < 0) {
        std::fprintf(stderr, "h8run: line %d is no S-record\n", line);
        return false;
      }
      bytes.push_back(hi << 4 | lo);
    }
    if (bytes.empty() || static_cast<std::size_t>(bytes[0]) + 1 != bytes.size()) {
      std::fprintf(stderr, "h8run: line %d has a wrong count\n", line);
      return false;
    }
    int sum = 0;
    for (int b : bytes) sum += b;
    if ((sum & 0xFF) != 0xFF) {
      std::fprintf(stderr, "h8run: line %d has a wrong checksum\n", line);
      return false;
    }
    const char type = rec[1];
    const bool data = type == '1' || type == '2' || type == '3';
    const bool start = type == '7' || type == '8' || type == '9';
    if (!data && !start) continue;  // header and count records
    // S1/S9 carry 16-bit addresses, S2/S8 24-bit, S3/S7 32-bit.
    const int addrLen = type == '1' || type == '9' ? 2 : type == '2' || type == '8' ? 3 : 4;
    if (bytes.size() < static_cast<std::size_t>(addrLen) + 2) {
      std::fprintf(stderr, "h8run: line %d is too short for its address\n", line);
      return false;
    }
    std::uint32_t address = 0;
    for (int i = 0; i < addrLen; ++i)
      address = address << 8 | static_cast<std::uint32_t>(bytes[1 + i]);
    if (start) {
      hasEntry = true;
      entry = address;
      continue;
    }
    for (std::size_t i = 1 + addrLen; i + 1 < bytes.size(); ++i) {
      bus.Poke8(address++, static_cast<std::uint8_t>(bytes[i]));
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::uint64_t& v) {
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], v)) {
        std::fprintf(stderr, "h8run: %s needs a number\n", a.c_str());
        std::exit(2);
      }
      ++i;
    };
    auto range = [&](std::vector<std::pair<std::uint32_t, std::uint32_t>>& list) {
      std::pair<std::uint32_t, std::uint32_t> r;
      if (i + 1 >= argc || !ParseRange(argv[i + 1], r)) {
        std::fprintf(stderr, "h8run: %s needs ADDR:LEN\n", a.c_str());
        std::exit(2);
      }
      ++i;
      list.push_back(r);
    };
    std::uint64_t v = 0;
    if (a == "--load") {
      value(v);
      opt.load = static_cast<std::uint32_t>(v);
    } else if (a == "--pc") {
      value(v);
      opt.pc = static_cast<std::uint32_t>(v);
      opt.pcGiven = true;
    } else if (a == "--sp") {
      value(v);
      opt.sp = static_cast<std::uint32_t>(v);
    } else if (a == "--states") {
      value(v);
      opt.states = v;
    } else if (a == "--reset") {
      opt.reset = true;
    } else if (a == "--trace") {
      opt.trace = true;
    } else if (a == "--format" && i + 1 < argc) {
      opt.format = argv[++i];
    } else if (a == "--dump") {
      range(opt.dumps);
    } else if (a == "--ram") {
      range(opt.ram);
    } else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else if (!a.empty() && a[0] != '-' && opt.file.empty()) {
      opt.file = a;
    } else {
      Usage();
      return 2;
    }
  }
  if (opt.file.empty()) {
    Usage();
    return 2;
  }
  std::ifstream in(opt.file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "h8run: cannot open %s\n", opt.file.c_str());
    return 2;
  }
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  MemoryBus bus;
  std::vector<std::vector<std::uint8_t>> memories;
  if (opt.ram.empty()) opt.ram.push_back({0, 0x1000000});
  for (const auto& [base, size] : opt.ram) {
    memories.emplace_back(size, 0);
    bus.Map(Region{"ram", base, size, memories.back().data(), true, nullptr, 1, 16});
  }
  const bool srec =
      opt.format.empty() ? (!content.empty() && content[0] == 'S') : opt.format == "srec";
  bool hasEntry = false;
  std::uint32_t entry = 0;
  if (srec) {
    if (!LoadSrec(content, bus, hasEntry, entry)) return 2;
  } else {
    for (std::size_t i = 0; i < content.size(); ++i) {
      bus.Poke8(opt.load + static_cast<std::uint32_t>(i), static_cast<std::uint8_t>(content[i]));
    }
  }

  Scheduler scheduler;
  Cpu cpu(bus, scheduler);
  cpu.set_er(7, opt.sp);
  if (opt.reset) {
    cpu.Reset();
  } else {
    cpu.set_pc(opt.pcGiven ? opt.pc : hasEntry ? entry : opt.load);
  }
  if (opt.trace) {
    cpu.SetTraceHandler([&bus](const Cpu&, std::uint32_t pc, unsigned states) {
      const auto d = vantor::board::Disassemble(bus, pc);
      std::printf("H'%06X %3u  %s\n", pc, states, d.text.c_str());
    });
  }
  const StopReason reason = cpu.Run(opt.states);

  switch (reason) {
    case StopReason::kNone:
      std::printf("stop: state limit\n");
      break;
    case StopReason::kSleep:
      std::printf("stop: sleep\n");
      break;
    default:
      std::printf("stop: %s\n", cpu.stopMessage().c_str());
      break;
  }
  for (int r = 0; r < 8; ++r) {
    std::printf("ER%d=H'%08X%s", r, cpu.er(r), r % 4 == 3 ? "\n" : " ");
  }
  std::printf("PC=H'%06X CCR=H'%02X EXR=H'%02X\n", cpu.pc(), cpu.ccr(), cpu.exr());
  std::printf("states=%llu instructions=%llu\n", static_cast<unsigned long long>(scheduler.now()),
              static_cast<unsigned long long>(cpu.instructions()));
  for (const auto& [base, len] : opt.dumps) {
    for (std::uint32_t off = 0; off < len; off += 16) {
      std::printf("H'%06X:", (base + off) & 0xFFFFFF);
      for (std::uint32_t k = off; k < len && k < off + 16; ++k)
        std::printf(" %02X", bus.Peek8(base + k));
      std::printf("\n");
    }
  }
  return reason == StopReason::kIllegalInstruction ? 1 : 0;
}
