#include "image/packed_record_reader.h"

#include "image/byte_source.h"

namespace vantor {

namespace {

constexpr int kMarker = 0x53;  // "S"
constexpr int kRecordEnd = 0x0A;

// One byte of the input; false at its end. Every single read that meets
// the end of the input ends the load with 100.
inline bool Take(ByteSource& in, int& byte) {
  byte = in.Next();
  return byte != kEndOfInput;
}

ErrorCode ReadRecords(ByteSource& in, std::uint8_t* image, std::uint32_t size) {
  for (;;) {
    int marker;
    if (!Take(in, marker)) return kRecordMissing;
    if (marker != kMarker) return kRecordMalformed;
    int type;
    if (!Take(in, type)) return kRecordMissing;
    if (type == 0x00) {  // header
      int end;
      if (!Take(in, end)) return kRecordMissing;
      if (end != kRecordEnd) return kRecordMalformed;
    } else if (type == 0x07) {  // end record: nothing after it is read
      int end;
      if (!Take(in, end)) return kRecordMissing;
      return end == kRecordEnd ? kOk : kRecordMalformed;
    } else if (type == 0x03) {  // data
      int length;
      if (!Take(in, length)) return kRecordMissing;
      std::uint32_t address = 0;
      for (int i = 0; i < 4; ++i) {
        int b;
        if (!Take(in, b)) return kRecordMissing;
        address = address * 256 + static_cast<std::uint32_t>(b);
      }
      // A length below 5 wraps to a count of over four thousand million:
      // the record then runs until the input ends or the bound is reached.
      std::uint32_t data_bytes = static_cast<std::uint32_t>(length) - 5u;
      for (std::uint32_t k = 0; k < data_bytes; ++k) {
        int b;
        if (!Take(in, b)) return kRecordMissing;
        if (address >= size) return kLoadExceedsImage;
        image[address++] = static_cast<std::uint8_t>(b);
      }
      int trailer;
      if (!Take(in, trailer)) return kRecordMissing;  // in the place of a checksum; not examined
      static_cast<void>(trailer);
      int end;
      if (!Take(in, end)) return kRecordMissing;
      if (end != kRecordEnd) return kRecordMalformed;
    }
    // Any other type is a two-byte record: the next byte is the next marker.
  }
}

}  // namespace

ErrorCode ReadPackedRecordBytes(const std::uint8_t* data, std::size_t length, std::uint8_t* image,
                                std::uint32_t size) {
  ByteSource in(data, length);
  return ReadRecords(in, image, size);
}

ErrorCode ReadPackedRecordFile(const char* path, std::uint8_t* image, std::uint32_t size) {
  return ReadFileWith(path, ReadRecords, image, size);
}

}  // namespace vantor
