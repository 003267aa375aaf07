#include "image/load_image.h"

#include <cstring>

#include "image/packed_record_reader.h"
#include "image/srecord_reader.h"

namespace vantor {

std::uint8_t LoadImage[kLoadImageSize];

namespace {

// Compares the four characters at `ext` with `name` (".mot", ".qpf"),
// ignoring the case of ASCII letters. Stops at the end of the text.
bool ExtensionIs(const char* ext, const char* name) {
  for (int i = 0; i < 4; ++i) {
    char c = ext[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i]) return false;  // also stops at the terminator
  }
  return true;
}

}  // namespace

ErrorCode LoadFile(const char* path, std::uint8_t* image, std::uint32_t size) {
  std::memset(image, 0xFF, size);
  ResetChecksumReport();

  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr) return kUnknownExtension;
  if (ExtensionIs(dot, ".mot")) return ReadSRecordFile(path, image, size);
  if (ExtensionIs(dot, ".qpf")) return ReadPackedRecordFile(path, image, size);
  return kUnknownExtension;
}

}  // namespace vantor
