#include "tests/board/chip_assembler.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vantor::board::testing {

#if defined(_WIN32)

// Under Windows (and Wine) the H8/300 tools are not at hand.
bool AssemblerAvailable() {
  return false;
}

std::vector<std::uint8_t> Assemble(const std::string&, std::uint32_t, std::string& errors) {
  errors = "no H8/300 assembler on this platform";
  return {};
}

#else

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

bool AssemblerAvailable() {
  return std::system(
             "command -v h8300-hms-as >/dev/null 2>&1 && "
             "command -v h8300-hms-ld >/dev/null 2>&1 && "
             "command -v h8300-hms-objcopy >/dev/null 2>&1") == 0;
}

std::vector<std::uint8_t> Assemble(const std::string& source, std::uint32_t origin,
                                   std::string& errors) {
  char dirTemplate[] = "/tmp/vantor-asm-XXXXXX";
  const char* dir = mkdtemp(dirTemplate);
  if (dir == nullptr) {
    errors = "cannot make a temporary directory";
    return {};
  }
  const std::string base = dir;
  {
    std::ofstream s(base + "/t.s");
    s << "\t.h8300s\n\t.include \"h8s2215.inc\"\n\t.text\n" << source << "\n";
    std::ofstream x(base + "/t.x");
    char text[200];
    std::snprintf(text, sizeof text,
                  "OUTPUT_FORMAT(\"coff-h8300\")\nOUTPUT_ARCH(h8300s)\n"
                  "SECTIONS { . = 0x%X; .text : { *(.text) *(.data) } }\n",
                  static_cast<unsigned>(origin));
    x << text;
  }
  const std::string command =
      "cd " + base +
      " && h8300-hms-as -I " VANTOR_FIRMWARE_DIR
      " t.s -o t.o >log 2>&1 && h8300-hms-ld -m h8300s -T t.x -o t.out "
      "t.o >>log 2>&1 && h8300-hms-objcopy -O binary t.out t.bin >>log 2>&1";
  const int rc = std::system(command.c_str());
  std::vector<std::uint8_t> image;
  if (rc == 0) {
    const std::string bytes = ReadAll(base + "/t.bin");
    image.assign(bytes.begin(), bytes.end());
  } else {
    errors = ReadAll(base + "/log");
  }
  std::system(("rm -rf " + base).c_str());
  return image;
}

#endif

}  // namespace vantor::board::testing
