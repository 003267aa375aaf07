// The packed record reader: binary records, codes and the per-byte bound.
#include "image/packed_record_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/load_image.h"
#include "tests/image/record_builders.h"
#include "tests/image/temp_dir.h"

namespace vantor {
namespace {

using testing::PackedData;
using testing::PackedEnd;
using testing::PackedHeader;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

class PackedRecordReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(image_.data(), 0xFF, image_.size()); }

  ErrorCode Read(const std::string& bytes) {
    return ReadPackedRecordBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                 image_.data(), kLoadImageSize);
  }
  std::uint32_t StoredBytes() const {
    std::uint32_t n = 0;
    for (std::uint8_t b : image_) n += (b != 0xFF);
    return n;
  }

  std::vector<std::uint8_t> image_ = std::vector<std::uint8_t>(kLoadImageSize);
};

TEST_F(PackedRecordReaderTest, DataRecordsLandAtTheirAddressWithEveryByteValue) {
  std::string file = PackedHeader() + PackedData(0x100, {0x00, 0x0A, 0x0D, 0x1A, 0x53}) +
                     PackedHeader() + PackedData(0x3FFFF, {0x77}, 0xEE) + PackedHeader() +
                     PackedEnd();
  ASSERT_EQ(Read(file), kOk);
  EXPECT_EQ(image_[0x100], 0x00);
  EXPECT_EQ(image_[0x101], 0x0A);
  EXPECT_EQ(image_[0x102], 0x0D);
  EXPECT_EQ(image_[0x103], 0x1A);
  EXPECT_EQ(image_[0x104], 0x53);
  EXPECT_EQ(image_[0x3FFFF], 0x77);
  EXPECT_EQ(StoredBytes(), 6u);
}

TEST_F(PackedRecordReaderTest, TheEndRecordAloneLoadsAndNothingAfterItIsRead) {
  EXPECT_EQ(Read(PackedEnd()), kOk);
  EXPECT_EQ(Read(PackedEnd() + "garbage\x1A\r\n" + PackedData(0, {1})), kOk);
  EXPECT_EQ(StoredBytes(), 0u);
}

TEST_F(PackedRecordReaderTest, LaterRecordsOverwriteAndTrailersAreNotExamined) {
  ASSERT_EQ(Read(PackedData(0x20, {1, 2, 3}, 0x00) + PackedData(0x21, {9}, 0xFF) + PackedEnd()),
            kOk);
  EXPECT_EQ(image_[0x20], 1);
  EXPECT_EQ(image_[0x21], 9);
  EXPECT_EQ(image_[0x22], 3);
}

TEST_F(PackedRecordReaderTest, EmptyDataRecordIsAcceptedAtAnyAddress) {
  EXPECT_EQ(Read(PackedData(0x40000, {}) + PackedData(0xFFFFFFFF, {}) + PackedEnd()), kOk);
  EXPECT_EQ(StoredBytes(), 0u);
}

TEST_F(PackedRecordReaderTest, BoundIsTestedForEachDataByte) {
  // Two bytes fit below 0x40000; the third fails, after the first two are stored.
  EXPECT_EQ(Read(PackedData(0x3FFFE, {0x11, 0x22, 0x33, 0x44}) + PackedEnd()), kLoadExceedsImage);
  EXPECT_EQ(image_[0x3FFFE], 0x11);
  EXPECT_EQ(image_[0x3FFFF], 0x22);
  EXPECT_EQ(StoredBytes(), 2u);
  // The size the caller passes is the bound.
  std::string file = PackedData(0xFF, {1, 2}) + PackedEnd();
  EXPECT_EQ(ReadPackedRecordBytes(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(),
                                  image_.data(), 0x100),
            kLoadExceedsImage);
  // End of input inside the data comes before the bound test of that byte.
  EXPECT_EQ(Read(Bytes({'S', 3, 7, 0, 4, 0, 0})), kRecordMissing);
}

TEST_F(PackedRecordReaderTest, RecordEndsMustBeALineFeed) {
  EXPECT_EQ(Read(Bytes({'S', 7, '\r', '\n'})), kRecordMalformed);
  EXPECT_EQ(Read(Bytes({'S', 0, '\r', '\n'}) + PackedEnd()), kRecordMalformed);
  std::string data = PackedData(0, {1});
  data.back() = '\r';
  EXPECT_EQ(Read(data + PackedEnd()), kRecordMalformed);
  EXPECT_EQ(Read(Bytes({'S', 7, 0})), kRecordMalformed);
}

TEST_F(PackedRecordReaderTest, RecordsMustStartWithTheMarker) {
  EXPECT_EQ(Read(Bytes({'s', 7, '\n'})), kRecordMalformed);
  EXPECT_EQ(Read(Bytes({'\n'}) + PackedEnd()), kRecordMalformed);
  EXPECT_EQ(Read(PackedData(0, {1}) + Bytes({0}) + PackedEnd()), kRecordMalformed);
}

TEST_F(PackedRecordReaderTest, OtherTypesAreTwoByteRecords) {
  for (int type : {0x01, 0x02, 0x04, 0x0A, 0x30, 0x33, 0x37, 0x53, 0xFF}) {
    EXPECT_EQ(Read(Bytes({'S', type}) + PackedEnd()), kOk) << type;
    EXPECT_EQ(Read(Bytes({'S', type, '\n'}) + PackedEnd()), kRecordMalformed) << type;
  }
  // "S0" of a text S-record file is such a record; its next byte is no marker.
  EXPECT_EQ(Read("S00600004844521B\nS9030000FC\n"), kRecordMalformed);
}

TEST_F(PackedRecordReaderTest, EveryCutBeforeTheEndRecordIsARecordMissing) {
  std::string full = PackedHeader() + PackedData(0x10, {1, 2, 3}) + Bytes({'S', 0x42}) +
                     PackedData(0x3000, {4}) + PackedEnd();
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    EXPECT_EQ(Read(full.substr(0, cut)), kRecordMissing) << "cut at " << cut;
  }
  EXPECT_EQ(Read(full), kOk);
}

TEST_F(PackedRecordReaderTest, LengthBelowFiveRunsToTheEndOrTheBound) {
  // Taken as a count of over four thousand million data bytes.
  for (int length : {0, 1, 4}) {
    SetUp();
    EXPECT_EQ(Read(Bytes({'S', 3, length, 0, 0, 0, 0}) + PackedEnd() + PackedEnd()),
              kRecordMissing);
    EXPECT_EQ(image_[0], 'S');
    EXPECT_EQ(image_[1], 7);
  }
  std::string tail(64, '\x5A');
  EXPECT_EQ(Read(Bytes({'S', 3, 4, 0, 3, 0xFF, 0xF0}) + tail + PackedEnd()), kLoadExceedsImage);
  EXPECT_EQ(image_[0x3FFFF], 0x5A);
}

TEST_F(PackedRecordReaderTest, FilesAreReadAsRawBytes) {
  testing::TempDir dir;
  std::uint32_t address = 0;
  std::string file;
  // Large enough to span several read chunks; every byte value appears.
  for (int r = 0; r < 1200; ++r) {
    std::vector<std::uint8_t> data(200);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(r + i);
    file += PackedData(address, data);
    address += 200;
  }
  file += PackedEnd();
  std::string path = dir.Write("big.qpf", file);
  ASSERT_EQ(ReadPackedRecordFile(path.c_str(), image_.data(), kLoadImageSize), kOk);
  EXPECT_EQ(image_[0], 0);
  EXPECT_EQ(image_[1199 * 200 + 199], static_cast<std::uint8_t>(1199 + 199));
  EXPECT_EQ(ReadPackedRecordFile(dir.PathOf("none.qpf").c_str(), image_.data(), kLoadImageSize),
            kFileNotFound);
}

}  // namespace
}  // namespace vantor
