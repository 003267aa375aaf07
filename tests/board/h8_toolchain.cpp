#include "tests/board/h8_toolchain.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>

namespace vantor::board::test {
namespace {

// A scratch directory for the tools' files, removed when the suite ends.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    std::error_code ignored;
    const auto base = std::filesystem::temp_directory_path(ignored);
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
      const auto dir = base / ("vantor-h8-" + std::to_string(std::random_device{}()));
      if (std::filesystem::create_directory(dir, ignored)) path = dir.string();
    }
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

std::string WorkDir() {
  static const ScratchDir dir;
  return dir.path;
}

std::string Capture(const std::string& command, int* status) {
  std::string out;
#ifdef _WIN32
  // The H8/300 tools are not run on Windows (the suite runs under Wine):
  // every test that needs them skips.
  (void)command;
  *status = -1;
#else
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) {
    *status = -1;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = pclose(p);
#endif
  return out;
}

}  // namespace

bool ToolchainAvailable() {
  static const bool available = [] {
    int status = 0;
    for (const char* tool :
         {"h8300-hms-as", "h8300-hms-ld", "h8300-hms-objcopy", "h8300-hms-objdump"}) {
      Capture(std::string(tool) + " --version", &status);
      if (status != 0) return false;
    }
    return true;
  }();
  return available;
}

const Assembled& Assemble(const std::string& source, std::uint32_t origin) {
  static std::map<std::pair<std::string, std::uint32_t>, Assembled> cache;
  static int counter = 0;
  auto key = std::make_pair(source, origin);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  Assembled& a = cache[key];
  a.origin = origin;
  const std::string base = WorkDir() + "/p" + std::to_string(counter++);
  {
    std::ofstream s(base + ".s");
    s << "\t.h8300s\n\t.text\n\t.global _start\n_start:\n" << source << "\n";
  }
  {
    // Everything in one section at the origin (the default script's memory
    // regions know nothing of this board).
    char script[160];
    std::snprintf(script, sizeof script,
                  "OUTPUT_ARCH(h8300s) SECTIONS { . = 0x%x; .text : { *(.text) *(.rodata) *(.data) "
                  "*(.bss) } }\n",
                  origin);
    std::ofstream(base + ".ld") << script;
  }
  const std::string cmd = "h8300-hms-as -o " + base + ".o " + base +
                          ".s && h8300-hms-ld -mh8300s -e _start -T " + base + ".ld -o " + base +
                          ".elf " + base + ".o && h8300-hms-objcopy -O binary " + base + ".elf " +
                          base + ".bin";
  int status = 0;
  a.log = Capture(cmd, &status);
  if (status != 0) return a;
  std::ifstream bin(base + ".bin", std::ios::binary);
  a.image.assign(std::istreambuf_iterator<char>(bin), std::istreambuf_iterator<char>());
  a.elfPath = base + ".elf";
  a.ok = true;
  return a;
}

std::vector<ObjdumpLine> Objdump(const std::string& elfPath) {
  int status = 0;
  const std::string out = Capture("h8300-hms-objdump -d -m h8300s " + elfPath, &status);
  std::vector<ObjdumpLine> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    // "  100:\t08 1a       \tadd.b\tr1h,r2l"; continuation lines have no
    // third field.
    const auto colon = line.find(":\t");
    if (colon == std::string::npos) continue;
    const auto tab = line.find('\t', colon + 2);
    if (tab == std::string::npos) continue;
    ObjdumpLine l;
    l.address =
        static_cast<std::uint32_t>(std::strtoul(line.substr(0, colon).c_str(), nullptr, 16));
    l.text = line.substr(tab + 1);
    while (!l.text.empty() && (l.text.back() == ' ' || l.text.back() == '\t')) l.text.pop_back();
    lines.push_back(l);
  }
  return lines;
}

TestBoard::TestBoard() : rom(0x40000, 0xFF), ram(kRamEnd - kRam, 0), cpu(bus, scheduler) {
  bus.Map(
      Region{"rom", 0, static_cast<std::uint32_t>(rom.size()), rom.data(), true, nullptr, 1, 16});
  bus.Map(Region{"ram", kRam, static_cast<std::uint32_t>(ram.size()), ram.data(), true, nullptr, 1,
                 16});
  bus.Map(Region{"io", kIo, sizeof io, nullptr, false, this, 2, 16});
}

void TestBoard::Load(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bus.Poke8(address + static_cast<std::uint32_t>(i), bytes[i]);
}

std::uint8_t TestBoard::Read8(std::uint32_t address) {
  ++ioReads;
  return io[address - kIo];
}

void TestBoard::Write8(std::uint32_t address, std::uint8_t value) {
  ++ioWrites;
  io[address - kIo] = value;
}

StopReason TestBoard::Run(std::uint32_t pc, std::uint64_t limit) {
  cpu.set_pc(pc);
  if (cpu.er(7) == 0) cpu.set_er(7, kRamEnd);
  cpu.SetTraceHandler([this](const Cpu&, std::uint32_t at, unsigned states) {
    trace.push_back({at, states});
  });
  return cpu.Run(scheduler.now() + limit);
}

unsigned TestBoard::LastStates() const {
  return trace.size() >= 2 ? trace[trace.size() - 2].states : 0;
}

std::unique_ptr<TestBoard> RunProgram(const std::string& source, std::uint8_t ccr,
                                      const std::function<void(TestBoard&)>& setup,
                                      std::uint32_t origin) {
  auto board = std::make_unique<TestBoard>();
  const Assembled& a = Assemble(source, origin);
  EXPECT_TRUE(a.ok) << a.log;
  board->Load(origin, a.image);
  board->cpu.set_ccr(ccr);
  if (setup) setup(*board);
  board->Run(origin);
  return board;
}

}  // namespace vantor::board::test
