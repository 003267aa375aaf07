// The S-record reader: record layout, codes, text mode and the image bound.
#include "image/srecord_reader.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/load_image.h"
#include "tests/image/record_builders.h"
#include "tests/image/temp_dir.h"

namespace vantor {
namespace {

using testing::SEnd;
using testing::SRecord;

class SRecordReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(image_.data(), 0xFF, image_.size()); }

  ErrorCode Read(const std::string& text) {
    return ReadSRecordBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                            image_.data(), kLoadImageSize);
  }

  bool ImageBlankExcept(std::uint32_t from, std::uint32_t to) const {
    for (std::uint32_t i = 0; i < kLoadImageSize; ++i) {
      if ((i < from || i >= to) && image_[i] != 0xFF) return false;
    }
    return true;
  }
  bool ImageBlank() const { return ImageBlankExcept(0, 0); }

  std::vector<std::uint8_t> image_ = std::vector<std::uint8_t>(kLoadImageSize);
};

TEST_F(SRecordReaderTest, DataRecordsOfEveryWidthLandAtTheirAddress) {
  std::string file = SRecord(0, 0, {'h', 'd', 'r'}) + SRecord(1, 0x1234, {0x01, 0x02}) +
                     SRecord(2, 0x020000, {0xA5}) + SRecord(3, 0x0003FFFE, {0x5A, 0x00}) + SEnd();
  ASSERT_EQ(Read(file), kOk);
  EXPECT_EQ(image_[0x1234], 0x01);
  EXPECT_EQ(image_[0x1235], 0x02);
  EXPECT_EQ(image_[0x20000], 0xA5);
  EXPECT_EQ(image_[0x3FFFE], 0x5A);
  EXPECT_EQ(image_[0x3FFFF], 0x00);
  EXPECT_EQ(image_[0x1236], 0xFF);
  EXPECT_EQ(image_[0x1233], 0xFF);
}

TEST_F(SRecordReaderTest, EveryEndRecordEndsTheLoadAndNothingAfterItIsRead) {
  for (const char* end : {"S9030000FC\n", "S804000000FB\n", "S70500000000FA\n", "S9"}) {
    SetUp();
    EXPECT_EQ(Read(std::string(end) + "\n\ngarbage\ns5\nS5\n"), kOk) << end;
    EXPECT_TRUE(ImageBlank()) << end;
  }
  // Only the digit counts: the rest of an end line is never looked at.
  EXPECT_EQ(Read("S7 no address at all"), kOk);
}

TEST_F(SRecordReaderTest, LaterRecordsOverwriteEarlierOnesAndWrongChecksumsAreOnlyCounted) {
  std::string bad_sum = SRecord(1, 0x10, {0x11, 0x22});
  bad_sum[bad_sum.size() - 2] ^= 0x01;
  ASSERT_EQ(Read(SRecord(1, 0x10, {0xAA, 0xBB, 0xCC}) + bad_sum + SEnd()), kOk);
  EXPECT_EQ(image_[0x10], 0x11);
  EXPECT_EQ(image_[0x11], 0x22);
  EXPECT_EQ(image_[0x12], 0xCC);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 1u);
  EXPECT_EQ(LastChecksumReport().firstLine, 2u);
}

TEST_F(SRecordReaderTest, WrongChecksumsAreCountedWithTheLineOfTheFirst) {
  const std::string good = SRecord(0, 0, {'h'}) + SRecord(2, 0x1000, {1, 2, 3}) +
                           SRecord(3, 0x2000, {4}) + SRecord(1, 0x30, {});
  ASSERT_EQ(Read(good + SEnd()), kOk);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 0u);
  EXPECT_EQ(LastChecksumReport().firstLine, 0u);

  // Lower-case digits and CR LF line ends are right too; a header's checksum
  // is never looked at.
  std::string lower = SRecord(1, 0xAB, {0xCD, 0xEF});
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  lower[0] = 'S';
  ASSERT_EQ(Read("S0030000AA\r\n" + lower.substr(0, lower.size() - 1) + "\r\n" + SEnd()), kOk);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 0u);

  // Spoiled on lines 3 and 5 (a wrong value, a pair without digits), and a
  // record whose line ends before its checksum: three, the first on line 3.
  std::string third = SRecord(2, 0x1000, {1, 2, 3});
  third[third.size() - 3] ^= 0x02;
  std::string fifth = SRecord(1, 0x40, {9});
  fifth.replace(fifth.size() - 3, 2, "zz");
  const std::string file = SRecord(0, 0, {'h'}) + SRecord(1, 0x10, {7}) + third +
                           SRecord(1, 0x20, {8}) + fifth + "S1040050AA\n" + SEnd();
  ASSERT_EQ(Read(file), kOk);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 3u);
  EXPECT_EQ(LastChecksumReport().firstLine, 3u);
  EXPECT_EQ(image_[0x1002], 3);  // stored all the same
  EXPECT_EQ(image_[0x40], 9);
  EXPECT_EQ(image_[0x50], 0xAA);

  // A record whose one-character pair ends its line: its checksum read takes
  // the next line ("F1" is right for it), and the lines still count.
  std::string fourth = SRecord(1, 0x60, {2});
  fourth[fourth.size() - 2] ^= 0x01;
  ASSERT_EQ(Read("S1040000A\nF1 taken as the checksum\n" + SRecord(1, 0, {1}) + fourth + SEnd()),
            kOk);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 1u);
  EXPECT_EQ(LastChecksumReport().firstLine, 4u);

  // The next read starts afresh.
  ASSERT_EQ(Read(good + SEnd()), kOk);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 0u);
}

TEST_F(SRecordReaderTest, HexDigitsConvertAsAScanOfHexadecimalDoes) {
  // Lower case digits, a leading blank, a sign, a trailing non-digit.
  ASSERT_EQ(Read("S1080000ab 1-1+f1GFF\nS9\n"), kOk);
  EXPECT_EQ(image_[0], 0xAB);
  EXPECT_EQ(image_[1], 0x01);
  EXPECT_EQ(image_[2], 0xFF);  // -1, low 8 bits
  EXPECT_EQ(image_[3], 0x0F);
  EXPECT_EQ(image_[4], 0x01);  // "1G" converts its digit
}

TEST_F(SRecordReaderTest, APairWithoutAHexDigitIsAMalformedRecord) {
  for (const char* file : {"S1050000ZZ00FF\nS9\n", "S1GG0000FF\nS9\n", "S105GG00\nS9\n",
                           "S1050000- 00FF\nS9\n", "S1050000x100FF\nS9\n"}) {
    SetUp();
    EXPECT_EQ(Read(file), kRecordMalformed) << file;
    EXPECT_TRUE(ImageBlank()) << file;
  }
}

TEST_F(SRecordReaderTest, LengthsComeFromTheCountAloneNotFromTheLineEnd) {
  // The count promises two data bytes; the line holds one. The line feed is
  // read as the second pair and holds no digit.
  EXPECT_EQ(Read("S1050000AB\nS9\n"), kRecordMalformed);
  // A one-character pair before the line feed is a complete pair ("A" is 0x0A);
  // the checksum read then takes the whole next line.
  SetUp();
  EXPECT_EQ(Read("S1040000A\nS5 whatever\nS9\n"), kOk);
  EXPECT_EQ(image_[0], 0x0A);
}

TEST_F(SRecordReaderTest, CountTooSmallForAddressAndChecksumIsMalformed) {
  EXPECT_EQ(Read("S1020000FD\nS9\n"), kRecordMalformed);
  EXPECT_EQ(Read("S100000000\nS9\n"), kRecordMalformed);
  EXPECT_EQ(Read("S2030000000000\nS9\n"), kRecordMalformed);
  EXPECT_EQ(Read("S30400000000FB\nS9\n"), kRecordMalformed);
  // Count exactly address + checksum: no data, accepted anywhere.
  EXPECT_EQ(Read("S1030000FC\nS30500000000FA\nS30500040000F6\nS9\n"), kOk);
  EXPECT_TRUE(ImageBlank());
  // Even without data, a record starting past the end of the image is refused.
  EXPECT_EQ(Read("S30500040001F5\nS9\n"), kLoadExceedsImage);
}

TEST_F(SRecordReaderTest, RecordsReachingPastTheImageStoreNothing) {
  std::vector<std::uint8_t> four = {1, 2, 3, 4};
  EXPECT_EQ(Read(SRecord(3, 0x3FFFC, four) + SEnd()), kOk);
  EXPECT_TRUE(ImageBlankExcept(0x3FFFC, 0x40000));

  SetUp();
  EXPECT_EQ(Read(SRecord(3, 0x3FFFD, four) + SEnd()), kLoadExceedsImage);
  EXPECT_TRUE(ImageBlank());
  EXPECT_EQ(Read(SRecord(2, 0x40000, {0}) + SEnd()), kLoadExceedsImage);
  // Address plus length must not wrap round to a small number.
  EXPECT_EQ(Read(SRecord(3, 0xFFFFFFFF, {7, 7}) + SEnd()), kLoadExceedsImage);
  EXPECT_EQ(Read(SRecord(3, 0xFFFFFF00, std::vector<std::uint8_t>(0xFA, 7)) + SEnd()),
            kLoadExceedsImage);
  EXPECT_TRUE(ImageBlank());
}

TEST_F(SRecordReaderTest, BoundIsTheSizeTheCallerPasses) {
  std::string file = SRecord(1, 0xFF, {1, 2}) + SEnd();
  EXPECT_EQ(ReadSRecordBytes(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(),
                             image_.data(), 0x100),
            kLoadExceedsImage);
  EXPECT_EQ(image_[0xFF], 0xFF);
}

TEST_F(SRecordReaderTest, RecordTypesOtherThanDataHeaderAndEndAreAbnormal) {
  std::string good = SRecord(1, 0, {0x42});
  for (const char* bad : {"S5030001FB\n", "S4\n", "S6\n", "SX\n", "S\n", "S", "S:\n", "S/\n"}) {
    SetUp();
    EXPECT_EQ(Read(good + bad + SEnd()), kRecordTypeAbnormal) << bad;
    EXPECT_EQ(image_[0], 0x42) << "records before the failure stay stored";
  }
}

TEST_F(SRecordReaderTest, ALineNotStartingWithUpperCaseSIsMalformed) {
  for (const char* bad : {"\n", " S9\n", "s9\n", "\tS1\n", "9\n", "\r\n"}) {
    EXPECT_EQ(Read(SRecord(1, 0, {1}) + bad + SEnd()), kRecordMalformed) << bad;
  }
}

TEST_F(SRecordReaderTest, EveryCutBeforeTheEndRecordIsARecordMissing) {
  std::string body = SRecord(0, 0, {'x'}) + SRecord(1, 0x100, {1, 2, 3}) +
                     SRecord(2, 0x10000, {4, 5}) + SRecord(3, 0x20000, {6});
  EXPECT_EQ(Read(""), kRecordMissing);
  for (std::size_t cut = 0; cut <= body.size(); ++cut) {
    // A lone "S" at the start of a line has no type digit.
    bool lone_s = cut > 0 && body[cut - 1] == 'S' && (cut == 1 || body[cut - 2] == '\n');
    EXPECT_EQ(Read(body.substr(0, cut)), lone_s ? kRecordTypeAbnormal : kRecordMissing)
        << "cut at " << cut;
  }
  // A cut straight after the "S" of the end record leaves no type digit.
  EXPECT_EQ(Read(body + "S"), kRecordTypeAbnormal);
  EXPECT_EQ(Read(body + "S9"), kOk);
}

TEST_F(SRecordReaderTest, HeaderRestOfLineIsLimitedTo127Characters) {
  // "S0" and 126 characters and the line feed: 127 characters, skipped whole.
  std::string fits = "S0" + std::string(126, '4') + "\n";
  EXPECT_EQ(Read(fits + SEnd()), kOk);
  // One more: the line feed is left over and read as a record.
  std::string too_long = "S0" + std::string(127, '4') + "\n";
  EXPECT_EQ(Read(too_long + SEnd()), kRecordMalformed);
  // A header of byte count 62 is the longest that fits.
  EXPECT_EQ(Read(SRecord(0, 0, std::vector<std::uint8_t>(59, 'a')) + SEnd()), kOk);
  EXPECT_EQ(Read(SRecord(0, 0, std::vector<std::uint8_t>(60, 'a')) + SEnd()), kRecordMalformed);
  // Trailing text after a data record's checksum also counts against 127.
  std::string data = SRecord(1, 0, {1});
  data.pop_back();
  EXPECT_EQ(Read(data + std::string(200, ' ') + "\n" + SEnd()), kRecordMalformed);
}

TEST_F(SRecordReaderTest, TextModeReadsCrLfAsLfAndStopsAtControlZ) {
  std::string lf =
      SRecord(0, 0, std::vector<std::uint8_t>(59, 'a')) + SRecord(1, 0, {9, 8}) + SEnd();
  std::string crlf;
  for (char c : lf) crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
  ASSERT_EQ(Read(crlf), kOk);  // the longest header still fits: CR LF is one character
  EXPECT_EQ(image_[1], 8);

  // 0x1A is the end of the input, wherever it stands.
  EXPECT_EQ(Read(SRecord(1, 0, {1}) + "\x1A" + SEnd()), kRecordMissing);
  EXPECT_EQ(Read("S1050000AB\x1A"
                 "CD00\nS9\n"),
            kRecordMissing);
  EXPECT_EQ(Read(SEnd() + "\x1A"), kOk);
  // A CR without LF stays a character of its own.
  EXPECT_EQ(Read(SRecord(1, 0, {1}) + "\rS9\n"), kRecordMalformed);
}

// Files read through the chunked file path give the same results as bytes
// in memory, also where a CR LF pair is split between two chunks.
TEST_F(SRecordReaderTest, FileReadsMatchMemoryReadsAcrossChunkBoundaries) {
  testing::TempDir dir;
  // A header line whose rest is exactly 127 characters once CR LF is one.
  std::string tight_header = "S0" + std::string(126, '0') + "\r\n";
  for (std::size_t boundary : {std::size_t{64 * 1024}, std::size_t{128 * 1024}}) {
    std::size_t cr_at = boundary - 1;  // the CR ends one chunk, the LF starts the next
    std::size_t filler = cr_at - (tight_header.size() - 2);
    std::string text;
    while (filler > 0) {
      std::size_t take = filler <= 104 ? filler : (filler - 104 >= 4 ? 104 : filler - 4);
      text += "S0" + std::string(take - 4, '0') + "\r\n";
      filler -= take;
    }
    text += tight_header;
    ASSERT_EQ(text[cr_at], '\r');
    text += SRecord(2, 0x30000, {0xC3}) + SEnd();
    std::string path = dir.Write("chunked.mot", text);
    ASSERT_EQ(ReadSRecordFile(path.c_str(), image_.data(), kLoadImageSize), kOk);
    EXPECT_EQ(image_[0x30000], 0xC3);
  }
}

TEST_F(SRecordReaderTest, MissingFileIsNotFound) {
  testing::TempDir dir;
  EXPECT_EQ(ReadSRecordFile(dir.PathOf("absent.mot").c_str(), image_.data(), kLoadImageSize),
            kFileNotFound);
  // A directory cannot be read as a file either, on any system.
  std::string directory = dir.PathOf("folder.mot");
  std::filesystem::create_directory(directory);
  EXPECT_EQ(ReadSRecordFile(directory.c_str(), image_.data(), kLoadImageSize), kFileNotFound);
}

}  // namespace
}  // namespace vantor
