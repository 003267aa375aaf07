#include "image/byte_source.h"

#ifdef _WIN32
#include <windows.h>

#include <cwchar>
#endif

namespace vantor {

std::FILE* OpenForReading(const char* path) {
#ifdef _WIN32
  // The name arrives as UTF-8; the wide-character open takes any name the
  // file system holds, whatever the system code page.
  int wide_length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (wide_length <= 0 || wide_length > 32768) return nullptr;
  wchar_t wide[32768];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, wide_length) <= 0) {
    return nullptr;
  }
  return _wfopen(wide, L"rb");
#else
  return std::fopen(path, "rb");
#endif
}

bool ByteSource::Refill() {
  if (file_ == nullptr) return false;
  std::size_t got = std::fread(chunk_, 1, chunk_size_, file_);
  if (got == 0) return false;
  pos_ = chunk_;
  end_ = chunk_ + got;
  return true;
}

}  // namespace vantor
