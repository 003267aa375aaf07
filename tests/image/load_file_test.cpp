// LoadFile: the image reset, the choice of reader by extension, and files
// closed on every way out.
#include "image/load_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/image/record_builders.h"
#include "tests/image/temp_dir.h"

namespace vantor {
namespace {

using testing::PackedData;
using testing::PackedEnd;
using testing::SEnd;
using testing::SRecord;

const std::string kSRecordText = SRecord(1, 0x40, {0x12, 0x34}) + SEnd();
const std::string kPackedBytes = PackedData(0x40, {0x56, 0x78}) + PackedEnd();

class LoadFileTest : public ::testing::Test {
 protected:
  ErrorCode Load(const std::string& path) {
    return LoadFile(path.c_str(), LoadImage, kLoadImageSize);
  }
  testing::TempDir dir_;
};

TEST_F(LoadFileTest, ExtensionChoosesTheReaderIgnoringCase) {
  for (const char* name : {"a.mot", "b.MOT", "c.Mot", "d.motorola", "e.mOt.bak.mot"}) {
    EXPECT_EQ(Load(dir_.Write(name, kSRecordText)), kOk) << name;
    EXPECT_EQ(LoadImage[0x41], 0x34) << name;
  }
  for (const char* name : {"a.qpf", "b.QPF", "c.qPf", "d.qpfx"}) {
    EXPECT_EQ(Load(dir_.Write(name, kPackedBytes)), kOk) << name;
    EXPECT_EQ(LoadImage[0x41], 0x78) << name;
  }
  // The same bytes through the other reader.
  EXPECT_EQ(Load(dir_.Write("text.qpf", kSRecordText)), kRecordMalformed);
  EXPECT_EQ(Load(dir_.Write("binary.mot", kPackedBytes)), kRecordTypeAbnormal);
}

TEST_F(LoadFileTest, TheChecksumCountBelongsToTheLastLoadOnly) {
  std::string spoiled = SRecord(1, 0x40, {0x12, 0x34});
  spoiled[spoiled.size() - 2] ^= 0x01;
  ASSERT_EQ(Load(dir_.Write("bad.mot", spoiled + SEnd())), kOk);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 1u);
  // A packed file, and a load that fails before any reader, start afresh.
  ASSERT_EQ(Load(dir_.Write("good.qpf", kPackedBytes)), kOk);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 0u);
  ASSERT_EQ(Load(dir_.Write("bad2.mot", spoiled + SEnd())), kOk);
  EXPECT_EQ(Load(dir_.Write("a.txt", kSRecordText)), kUnknownExtension);
  EXPECT_EQ(LastChecksumReport().wrongRecords, 0u);
}

TEST_F(LoadFileTest, OtherExtensionsFailWithoutOpeningAFile) {
  for (const char* name : {"noext", "a.txt", "a.mo", "a.qp", "a.", "a.m0t", "a.mot.old"}) {
    EXPECT_EQ(Load(dir_.Write(name, kSRecordText)), kUnknownExtension) << name;
    EXPECT_EQ(Load(dir_.PathOf(std::string("missing-") + name)), kUnknownExtension) << name;
  }
  EXPECT_EQ(Load(dir_.PathOf("missing.mot")), kFileNotFound);
  EXPECT_EQ(Load(dir_.PathOf("missing.qpf")), kFileNotFound);
}

TEST_F(LoadFileTest, OnlyTheLastDotOfTheWholePathCounts) {
  EXPECT_EQ(Load(dir_.Write("images.mot/flash", kSRecordText)), kOk);
  EXPECT_EQ(Load(dir_.Write("images.old/flash", kSRecordText)), kUnknownExtension);
  EXPECT_EQ(Load(dir_.Write("images.qpf/flash", kPackedBytes)), kOk);
}

TEST_F(LoadFileTest, EveryLoadFirstErasesTheImage) {
  ASSERT_EQ(Load(dir_.Write("first.mot", kSRecordText)), kOk);
  ASSERT_EQ(LoadImage[0x40], 0x12);
  std::fill(std::begin(LoadImage), std::end(LoadImage), 0x00);
  EXPECT_EQ(Load(dir_.PathOf("none.txt")), kUnknownExtension);
  EXPECT_TRUE(std::all_of(std::begin(LoadImage), std::end(LoadImage),
                          [](std::uint8_t b) { return b == 0xFF; }));
  // Only the size passed is erased.
  std::fill(std::begin(LoadImage), std::end(LoadImage), 0x00);
  EXPECT_EQ(LoadFile(dir_.PathOf("none.txt").c_str(), LoadImage, 0x80), kUnknownExtension);
  EXPECT_EQ(LoadImage[0x7F], 0xFF);
  EXPECT_EQ(LoadImage[0x80], 0x00);
}

TEST_F(LoadFileTest, NamesOutsideAsciiOpen) {
  EXPECT_EQ(Load(dir_.Write("書き込み/データ.mot", kSRecordText)), kOk);
  EXPECT_EQ(Load(dir_.Write("Données.QPF", kPackedBytes)), kOk);
}

#ifdef __linux__
std::size_t OpenDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++n;
  }
  return n;
}

TEST_F(LoadFileTest, FailedLoadsLeaveNoFileOpen) {
  const std::string bad[][2] = {
      {"cut.mot", SRecord(1, 0, {1, 2, 3}).substr(0, 9)},
      {"bad.mot", std::string("\n").append(SEnd())},
      {"type.mot", "S5030000FC\n"},
      {"big.mot", SRecord(2, 0x3FFFF, {1, 2}) + SEnd()},
      {"digit.mot", "S1GG\n"},
      {"good.mot", kSRecordText},
      {"cut.qpf", kPackedBytes.substr(0, 5)},
      {"bad.qpf", "S\x07\r\n"},
      {"big.qpf", PackedData(0x3FFFF, {1, 2}) + PackedEnd()},
      {"good.qpf", kPackedBytes},
  };
  std::vector<std::string> paths;
  for (const auto& file : bad) paths.push_back(dir_.Write(file[0], file[1]));
  paths.push_back(dir_.PathOf("missing.mot"));

  std::size_t before = OpenDescriptors();
  int failures = 0;
  for (int round = 0; round < 300; ++round) {
    for (const std::string& path : paths) failures += (Load(path) != kOk);
  }
  EXPECT_EQ(failures, 300 * 9);
  EXPECT_EQ(OpenDescriptors(), before);
}
#endif

}  // namespace
}  // namespace vantor
