#include "image/srecord_reader.h"

#include "image/byte_source.h"

namespace vantor {

namespace {

ChecksumReport g_checksums;

// A pair read: characters until two are held, or a line feed has just been
// taken, or the input ends. False only when not a single character came.
// `pair` is left zero-terminated.
inline bool ReadPair(TextSource& in, char pair[3]) {
  int n = 0;
  while (n < 2) {
    int c = in.Next();
    if (c == kEndOfInput) break;
    pair[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  pair[n] = '\0';
  return n > 0;
}

// A rest-of-line read: characters until a line feed has been taken, or 127
// are held, or the input ends. False only when not a single character came.
inline bool SkipRestOfLine(TextSource& in) {
  int n = 0;
  while (n < 127) {
    int c = in.Next();
    if (c == kEndOfInput) break;
    ++n;
    if (c == '\n') break;
  }
  return n > 0;
}

constexpr int HexDigitValueOf(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct HexTable {
  signed char value[256];
  constexpr HexTable() : value() {
    for (int c = 0; c < 256; ++c) value[c] = static_cast<signed char>(HexDigitValueOf(c));
  }
};
constexpr HexTable kHex;

inline int HexDigitValue(char c) {
  return kHex.value[static_cast<unsigned char>(c)];
}

inline bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Converts a pair the way a "%x" scan does: white space skipped, an optional
// sign, an optional 0x, then hexadecimal digits. Keeps the low 8 bits. False
// when there is no digit to convert; such a pair is a malformed record.
inline bool ConvertPair(const char* text, std::uint8_t& value) {
  const char* p = text;
  while (IsScanSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigitValue(p[2]) >= 0) p += 2;
  int digit = HexDigitValue(*p);
  if (digit < 0) return false;
  std::uint32_t v = 0;
  for (; digit >= 0; digit = HexDigitValue(*++p)) v = v * 16 + static_cast<std::uint32_t>(digit);
  if (negative) v = 0u - v;
  value = static_cast<std::uint8_t>(v & 0xFF);
  return true;
}

// Pair read plus conversion: 0, 100 (input ended) or 101 (no digit).
inline ErrorCode ReadByte(TextSource& in, std::uint8_t& value) {
  // Two hexadecimal digits at hand, the usual case: neither is a line end,
  // a CR or 0x1A, so they are the pair and its value.
  ByteSource& raw = in.Raw();
  if (raw.Available() >= 2 && !in.Ended()) {
    const std::uint8_t* p = raw.Here();
    int high = kHex.value[p[0]];
    int low = kHex.value[p[1]];
    if ((high | low) >= 0) {
      raw.Skip(2);
      value = static_cast<std::uint8_t>(high * 16 + low);
      return kOk;
    }
  }
  char pair[3];
  if (!ReadPair(in, pair)) return kRecordMissing;
  if (!ConvertPair(pair, value)) return kRecordMalformed;
  return kOk;
}

// The checksum pair of a data record and the line end: the rest of the
// line, of which the first two characters (before any line feed) are the
// checksum. False when not a single character came. `converted` is false
// when the pair holds no hexadecimal digit.
inline bool ReadChecksumAndLineEnd(TextSource& in, bool& converted, std::uint8_t& checksum) {
  char pair[3];
  int n = 0;
  int taken = 0;
  while (taken < 127) {
    int c = in.Next();
    if (c == kEndOfInput) break;
    ++taken;
    if (c == '\n') break;
    if (n < 2) pair[n++] = static_cast<char>(c);
  }
  pair[n] = '\0';
  converted = ConvertPair(pair, checksum);
  return taken > 0;
}

void NoteWrongChecksum(unsigned line) {
  if (g_checksums.wrongRecords++ == 0) g_checksums.firstLine = line;
}

ErrorCode ReadRecords(TextSource& in, std::uint8_t* image, std::uint32_t size) {
  for (;;) {
    const unsigned line = in.LineFeeds() + 1;  // where this record starts
    char head[3];
    if (!ReadPair(in, head)) return kRecordMissing;  // no end record came
    if (head[0] != 'S') return kRecordMalformed;
    int type = head[1] - '0';  // a line feed or the terminator is no digit
    if (type < 0 || type > 9) return kRecordTypeAbnormal;

    if (type == 0) {  // header: skipped, whatever it holds
      SkipRestOfLine(in);
      continue;
    }
    if (type >= 7) return kOk;  // S7, S8, S9: nothing more is read
    if (type >= 4) return kRecordTypeAbnormal;

    // Data record: S1, S2 or S3 with a 2-, 3- or 4-byte address.
    std::uint8_t count = 0;
    if (ErrorCode rc = ReadByte(in, count); rc != kOk) return rc;
    unsigned sum = count;
    std::uint32_t address = 0;
    for (int i = 0; i <= type; ++i) {
      std::uint8_t b = 0;
      if (ErrorCode rc = ReadByte(in, b); rc != kOk) return rc;
      address = address * 256 + b;
      sum += b;
    }
    // The count covers the address, the data and the checksum; a count too
    // small to hold its own address and checksum is a malformed record.
    if (count < type + 2) return kRecordMalformed;
    std::uint32_t data_bytes = count - static_cast<std::uint32_t>(type) - 2;
    if (static_cast<std::uint64_t>(address) + data_bytes > size) return kLoadExceedsImage;
    for (std::uint32_t k = 0; k < data_bytes; ++k) {
      if (ErrorCode rc = ReadByte(in, image[address + k]); rc != kOk) return rc;
      sum += image[address + k];
    }
    // The checksum, the ones' complement of the low byte of the sum of the
    // count, address and data bytes: a wrong one is counted, not refused.
    bool converted = false;
    std::uint8_t checksum = 0;
    if (!ReadChecksumAndLineEnd(in, converted, checksum)) return kRecordMissing;
    if (!converted || static_cast<std::uint8_t>(~sum) != checksum) NoteWrongChecksum(line);
  }
}

// The record loop over the file's bytes read in text mode.
ErrorCode ReadTextRecords(ByteSource& raw, std::uint8_t* image, std::uint32_t size) {
  TextSource in(raw);
  return ReadRecords(in, image, size);
}

}  // namespace

const ChecksumReport& LastChecksumReport() {
  return g_checksums;
}

void ResetChecksumReport() {
  g_checksums = ChecksumReport{};
}

ErrorCode ReadSRecordBytes(const std::uint8_t* data, std::size_t length, std::uint8_t* image,
                           std::uint32_t size) {
  ResetChecksumReport();
  ByteSource raw(data, length);
  return ReadTextRecords(raw, image, size);
}

ErrorCode ReadSRecordFile(const char* path, std::uint8_t* image, std::uint32_t size) {
  ResetChecksumReport();
  return ReadFileWith(path, ReadTextRecords, image, size);
}

}  // namespace vantor
