// Byte-at-a-time input for the two file readers: a file taken in large
// chunks, or bytes already in memory. No stdio call per byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "common/error_code.h"

namespace vantor {

inline constexpr int kEndOfInput = -1;

// Raw bytes, every value standing for itself.
class ByteSource {
 public:
  // Bytes in memory; the source never reads past data + length.
  ByteSource(const std::uint8_t* data, std::size_t length)
      : file_(nullptr), pos_(data), end_(data + length) {}
  // An open file, read through `chunk` (the caller's storage) in large pieces.
  ByteSource(std::FILE* file, std::uint8_t* chunk, std::size_t chunk_size)
      : file_(file), chunk_(chunk), chunk_size_(chunk_size), pos_(chunk), end_(chunk) {}

  // The next byte (0-255), or kEndOfInput.
  int Next() {
    if (pos_ == end_ && !Refill()) return kEndOfInput;
    return *pos_++;
  }
  // The byte Next() would return, without taking it.
  int Peek() {
    if (pos_ == end_ && !Refill()) return kEndOfInput;
    return *pos_;
  }

  // The bytes already at hand, for callers that take several at once;
  // Skip(n) takes n of them (n <= Available()).
  std::size_t Available() const { return static_cast<std::size_t>(end_ - pos_); }
  const std::uint8_t* Here() const { return pos_; }
  void Skip(std::size_t n) { pos_ += n; }

 private:
  bool Refill();

  std::FILE* file_;
  std::uint8_t* chunk_ = nullptr;
  std::size_t chunk_size_ = 0;
  const std::uint8_t* pos_;
  const std::uint8_t* end_;
};

// Text-mode view of a ByteSource, the same on every platform: CR LF reads
// as a single LF (a lone CR stays), and a 0x1A byte ends the input for good.
class TextSource {
 public:
  explicit TextSource(ByteSource& raw) : raw_(raw) {}

  bool Ended() const { return ended_; }
  // Line feeds taken so far (a CR LF counts once).
  unsigned LineFeeds() const { return lineFeeds_; }
  ByteSource& Raw() { return raw_; }

  int Next() {
    if (ended_) return kEndOfInput;
    int c = raw_.Next();
    if (c == kEndOfInput || c == 0x1A) {
      ended_ = true;
      return kEndOfInput;
    }
    if (c == '\r' && raw_.Peek() == '\n') c = raw_.Next();
    if (c == '\n') ++lineFeeds_;
    return c;
  }

 private:
  ByteSource& raw_;
  bool ended_ = false;
  unsigned lineFeeds_ = 0;
};

// The chunk size the readers use for files.
inline constexpr std::size_t kReadChunkSize = 64 * 1024;

class ByteSource;

// A reader's record loop over raw bytes.
using RecordLoop = ErrorCode (*)(ByteSource& in, std::uint8_t* image, std::uint32_t size);

// Opens `path` (UTF-8; through the wide-character open on Windows, so any
// file name works) in binary mode and runs `loop` over it in chunks of
// kReadChunkSize. 103 when the file cannot be opened for any reason; the
// file is closed before every return.
ErrorCode ReadFileWith(const char* path, RecordLoop loop, std::uint8_t* image, std::uint32_t size);

}  // namespace vantor
