// libFuzzer target: any bytes through the S-record reader, checked against a
// reader made of fgets and sscanf (fuzz/srecord_stdio_model.h): the same
// result code and the same image for every input. The images are heap
// blocks of exactly the size passed, so a store outside them is caught; a
// small size keeps each run cheap and makes the bound easy to reach.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/srecord_stdio_model.h"
#include "image/srecord_reader.h"

namespace {
constexpr std::uint32_t kImageSize = 0x1000;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::uint8_t* image = new std::uint8_t[kImageSize];
  static std::uint8_t* model_image = new std::uint8_t[kImageSize];
  std::memset(image, 0xFF, kImageSize);
  std::memset(model_image, 0xFF, kImageSize);

  vantor::ErrorCode rc = vantor::ReadSRecordBytes(data, size, image, kImageSize);

  std::string text = vantor::fuzzing::TextModeCopy(data, size);
  std::FILE* f =
      text.empty() ? std::fopen("/dev/null", "r") : fmemopen(text.data(), text.size(), "r");
  if (f == nullptr) std::abort();
  vantor::ErrorCode model_rc = vantor::fuzzing::ModelReadSRecords(f, model_image, kImageSize);
  std::fclose(f);

  if (rc != model_rc) {
    std::fprintf(stderr, "reader %d, stdio model %d\n", rc, model_rc);
    std::abort();
  }
  if (std::memcmp(image, model_image, kImageSize) != 0) {
    std::fprintf(stderr, "the images differ (result %d)\n", rc);
    std::abort();
  }
  return 0;
}
