// h8run, the command-line runner: loading, the stop reasons and its
// documented output format (docs/h8run.md).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/board/h8_toolchain.h"

namespace {

struct Result {
  int status;
  std::string out;
};

Result RunH8run(const std::string& args) {
  Result r{-1, ""};
  FILE* p = popen((std::string(VANTOR_H8RUN) + " " + args + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string TempFile(const std::string& name, const std::string& content) {
  const std::string path = ::testing::TempDir() + "h8run_" + std::to_string(getpid()) + "_" + name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// mov.w #0x1234,r1 ; mov.w r1,@0x2000:16 ; sleep
const std::string kProgram("\x79\x01\x12\x34\x6B\x81\x20\x00\x01\x80", 10);

TEST(H8run, RunsABinaryAndPrintsTheDocumentedState) {
  const std::string bin = TempFile("a.bin", kProgram);
  const Result r = RunH8run("--load 0x1000 --dump 0x2000:2 " + bin);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "stop: sleep\n"
            "ER0=H'00000000 ER1=H'00001234 ER2=H'00000000 ER3=H'00000000\n"
            "ER4=H'00000000 ER5=H'00000000 ER6=H'00000000 ER7=H'00FFFF00\n"
            "PC=H'00100A CCR=H'80 EXR=H'7F\n"
            // MOV.W #imm 2, MOV.W to @aa:16 2 + 1, SLEEP 1 + 1 internal.
            "states=7 instructions=3\n"
            "H'002000: 12 34\n");
  std::remove(bin.c_str());
}

TEST(H8run, LoadsSRecordsAndTraces) {
  // The same program as an S1 record at H'0100 (checksum: ones' complement
  // of the sum of count, address and data bytes).
  std::string data = "0D0100";
  unsigned sum = 0x0D + 0x01 + 0x00;
  char hex[3];
  for (unsigned char c : kProgram) {
    std::snprintf(hex, sizeof hex, "%02X", c);
    data += hex;
    sum += c;
  }
  std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
  const std::string srec = TempFile("a.mot", "S0030000FC\nS1" + data + hex + "\nS9030000FC\n");
  const Result r = RunH8run("--pc 0x100 --trace " + srec);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("H'000100   2  mov.w\t#0x1234,r1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("H'000104   3  mov.w\tr1,@0x2000:16\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PC=H'00010A"), std::string::npos) << r.out;
  std::remove(srec.c_str());
}

TEST(H8run, ReportsIllegalInstructionsAndStateLimits) {
  const std::string illegal = TempFile("ill.bin", std::string("\x00\x00\x01\xA0", 4));
  Result r = RunH8run(illegal);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("stop: illegal instruction at H'000002: H'01A0\n", 0), 0u) << r.out;
  const std::string loop = TempFile("loop.bin", std::string("\x40\xFE", 2));  // bra .
  r = RunH8run("--states 100 " + loop);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("stop: state limit\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("states=100 instructions=50\n"), std::string::npos) << r.out;
  std::remove(illegal.c_str());
  std::remove(loop.c_str());
}

// An S-record line of `type` with a 16-, 24- or 32-bit address and its
// checksum.
std::string Record(char type, std::uint32_t address, int addressBytes,
                   const std::string& data = "") {
  std::vector<unsigned> bytes{static_cast<unsigned>(addressBytes + data.size() + 1)};
  for (int i = addressBytes - 1; i >= 0; --i) bytes.push_back(address >> (8 * i) & 0xFF);
  for (unsigned char c : data) bytes.push_back(c);
  unsigned sum = 0;
  std::string line = std::string("S") + type;
  char hex[3];
  for (unsigned b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
    sum += b;
  }
  std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
  return line + hex + "\n";
}

TEST(H8run, SRecordsStartAtTheirEntryRecordUnlessPcIsGiven) {
  // Data from H'0100, entry at H'0104: the first instruction is skipped, so
  // R1 stays 0 and only the store and SLEEP run.
  for (const std::string& file : {Record('1', 0x100, 2, kProgram) + Record('9', 0x104, 2),
                                  Record('2', 0x100, 3, kProgram) + Record('8', 0x104, 3),
                                  Record('3', 0x100, 4, kProgram) + Record('7', 0x104, 4)}) {
    const std::string srec = TempFile("entry.mot", file);
    Result r = RunH8run(srec);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ER1=H'00000000"), std::string::npos) << file << r.out;
    EXPECT_NE(r.out.find("PC=H'00010A"), std::string::npos) << file << r.out;
    EXPECT_NE(r.out.find("instructions=2\n"), std::string::npos) << file << r.out;
    r = RunH8run("--pc 0x100 " + srec);
    EXPECT_NE(r.out.find("ER1=H'00001234"), std::string::npos) << file << r.out;
    EXPECT_NE(r.out.find("instructions=3\n"), std::string::npos) << file << r.out;
    std::remove(srec.c_str());
  }
  // A raw binary has no entry record: it starts at --load.
  const std::string bin = TempFile("entry.bin", kProgram);
  const Result r = RunH8run("--load 0x3000 " + bin);
  EXPECT_NE(r.out.find("PC=H'00300A"), std::string::npos) << r.out;
  std::remove(bin.c_str());
}

TEST(H8run, RunsAnAssembledProgramLinkedAwayFromZeroFromItsEntry) {
  REQUIRE_H8_TOOLCHAIN();
  using vantor::board::test::Assemble;
  const auto& a = Assemble("\tmov.w\t#0x1234,r1\n\tmov.w\tr1,@0x2000:16\n\tsleep\n", 0x1000);
  ASSERT_TRUE(a.ok) << a.log;
  const std::string srec = ::testing::TempDir() + "h8run_" + std::to_string(getpid()) + ".srec";
  ASSERT_EQ(std::system(("h8300-hms-objcopy -O srec " + a.elfPath + " " + srec).c_str()), 0);
  const Result r = RunH8run("--dump 0x2000:2 " + srec);
  EXPECT_EQ(r.status, 0) << r.out;
  // Exactly the three instructions' states, not 2048 NOPs of empty memory
  // before them.
  EXPECT_NE(r.out.find("PC=H'00100A"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("states=7 instructions=3\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("H'002000: 12 34\n"), std::string::npos) << r.out;
  std::remove(srec.c_str());
}

TEST(H8run, RefusesBadSRecordsAndArguments) {
  const std::string bad = TempFile("bad.mot", "S1050100000000\n");  // wrong checksum
  Result r = RunH8run(bad);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("checksum"), std::string::npos) << r.out;
  r = RunH8run("--dump 12 " + bad);
  EXPECT_EQ(r.status, 2);
  std::remove(bad.c_str());
}

}  // namespace
