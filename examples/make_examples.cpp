// Makes the example load files: one small program image written both as
// S-records (.mot) and as packed records (.qpf).
// Usage: vantor_make_examples DIRECTORY
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/record_writer.h"

namespace {

constexpr std::uint32_t kFlashSize = 0x40000;

std::vector<std::uint8_t> ExampleImage() {
  std::vector<std::uint8_t> image(kFlashSize, 0xFF);
  // Reset vector: the program starts at H'00000100.
  const std::uint8_t reset[] = {0x00, 0x00, 0x01, 0x00};
  std::memcpy(&image[0x0], reset, sizeof reset);
  // The program: BRA to itself.
  const std::uint8_t program[] = {0x40, 0xFE};
  std::memcpy(&image[0x100], program, sizeof program);
  // A text at H'1000.
  const char text[] = "Vantor example image for the H8S/2215";
  std::memcpy(&image[0x1000], text, sizeof text);
  // A 600-byte sine table from H'2000: five blocks in a row.
  for (int i = 0; i < 600; ++i) {
    double v = 127.5 + 127.0 * std::sin(2.0 * 3.14159265358979 * i / 600.0);
    image[0x2000 + i] = static_cast<std::uint8_t>(v);
  }
  // The last block of the flash.
  for (int i = 0; i < 128; ++i) image[0x3FF80 + i] = static_cast<std::uint8_t>(i);
  return image;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vantor_make_examples DIRECTORY\n");
    return 2;
  }
  std::string dir = argv[1];
  std::vector<std::uint8_t> image = ExampleImage();
  vantor::RecordWriterOptions options;
  options.data_bytes = 16;
  options.header = "example";
  bool ok =
      WriteFile(dir + "/example.mot", vantor::FormatSRecords(image.data(), kFlashSize, options));
  ok = ok && WriteFile(dir + "/example.qpf",
                       vantor::FormatPackedRecords(image.data(), kFlashSize, options));
  if (!ok) {
    std::fprintf(stderr, "vantor_make_examples: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
