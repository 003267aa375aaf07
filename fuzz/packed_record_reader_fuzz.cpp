// libFuzzer target: any bytes through the packed record reader. The image is
// a heap block of exactly the flash size, so a store outside it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/load_image.h"
#include "image/packed_record_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::uint8_t* image = new std::uint8_t[vantor::kLoadImageSize];
  vantor::ErrorCode rc = vantor::ReadPackedRecordBytes(data, size, image, vantor::kLoadImageSize);
  bool known = rc == vantor::kOk || rc == vantor::kRecordMissing ||
               rc == vantor::kRecordMalformed || rc == vantor::kLoadExceedsImage;
  if (!known) std::abort();
  return 0;
}
