#include "image/byte_source.h"

#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vantor {

namespace {

// Some systems open a directory for reading; it is no file to load.
std::FILE* RefuseDirectory(std::FILE* file) {
  if (file == nullptr) return nullptr;
#ifdef _WIN32
  struct _stat64 info;
  bool directory = _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFDIR) != 0;
#else
  struct stat info;
  bool directory = fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
#endif
  if (!directory) return file;
  std::fclose(file);
  return nullptr;
}

// Opens `path` for reading in binary mode; nullptr when it cannot be opened.
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
  return RefuseDirectory(_wfopen(wide, L"rb"));
#else
  return RefuseDirectory(std::fopen(path, "rb"));
#endif
}

}  // namespace

ErrorCode ReadFileWith(const char* path, RecordLoop loop, std::uint8_t* image, std::uint32_t size) {
  std::FILE* file = OpenForReading(path);
  if (file == nullptr) return kFileNotFound;
  std::uint8_t chunk[kReadChunkSize];
  ByteSource in(file, chunk, sizeof chunk);
  const ErrorCode code = loop(in, image, size);
  std::fclose(file);
  return code;
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
