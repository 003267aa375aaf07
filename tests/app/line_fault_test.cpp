// Whole writes through RunWriteOperation to the virtual board running the
// real write-control program, with faults on the line between them: what
// the block protocol misses, what the check after the last block catches,
// and a soak of seeded random images each with one random fault.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/write_operation.h"
#include "board/sim_transport.h"
#include "image/load_image.h"
#include "link/serial_link.h"
#include "tests/app/srecord_file.h"

#ifndef VANTOR_SOAK_RUNS
#define VANTOR_SOAK_RUNS 200
#endif

namespace vantor {
namespace {

using board::LineFault;
using Kind = LineFault::Kind;

// Answers the prompts at once; remembers the last message and whether the
// port was open when it was shown.
class QuietPanel : public OperatorPanel {
 public:
  std::string file;
  std::string lastError;
  bool portOpenAtError = false;

  int ReadFileField() override {
    return StoreFieldText(file.data(), file.size(), g_filePath, sizeof g_filePath);
  }
  void ClearFileField() override { file.clear(); }
  int ReadPortField() override { return StoreFieldText("sim", 3, g_portName, sizeof g_portName); }
  void ShowStatus(const char*) override {}
  void ShowPrompt(const char*) override {}
  void ShowErrorBox(const char* message) override {
    lastError = message;
    portOpenAtError = IsPortOpen();
  }
};

// Host bytes before the first block (0xC0, 0xC5, the 0xCA writes, 0xC1 0x03)
// at the board's default clock, and board bytes before the first block
// reply: measured by the first test that needs them.
std::uint64_t kHostPrefix = 0;
std::uint64_t kBoardPrefix = 0;
constexpr std::uint64_t kCheckRequestBytes = 9;
constexpr std::uint64_t kCheckAnswerBytes = 5;

testing::ImageData Blocks(std::initializer_list<std::uint32_t> addresses) {
  testing::ImageData data;
  for (const std::uint32_t address : addresses) data[address] = testing::BlockPattern(address);
  return data;
}

class LineFaultTest : public ::testing::Test {
 protected:
  LineFaultTest() {
    dir_ = testing::MakeScratchDirectory("line-fault");
    board::ResetSimBoard();
    SetTransportSelector(board::SimTransportFor);
    if (kHostPrefix == 0) {
      // A clean checked write of one block at 0: 134 host bytes of block and
      // 9 of the check request, one reply byte and 5 of the check's answer.
      EXPECT_EQ(Write(Blocks({0x0}), {}, true), kOk) << panel_.lastError;
      EXPECT_TRUE(FlashHoldsTheImage());
      const board::LineFaults& counted = board::SimBoardLineFaults();
      EXPECT_TRUE(counted.Counting());
      kHostPrefix = counted.HostBytes() - 134 - kCheckRequestBytes;
      kBoardPrefix = counted.BoardBytes() - 1 - kCheckAnswerBytes;
    }
  }
  ~LineFaultTest() override {
    SetTransportSelector(nullptr);
    board::SetSimBoardLineFaults({});
    board::ResetSimBoard();
    std::filesystem::remove_all(dir_);
  }

  ErrorCode Write(const testing::ImageData& data, std::vector<LineFault> faults, bool verify) {
    panel_ = QuietPanel{};
    panel_.file = testing::WriteMotFile(dir_ / "image.mot", data);
    board::SetSimBoardLineFaults(std::move(faults));
    WriteOptions options;
    options.verify = verify;
    return RunWriteOperation(panel_, options);
  }

  static bool FlashHoldsTheImage() {
    return std::memcmp(board::SimBoard().Flash().Contents().data(), LoadImage, kLoadImageSize) == 0;
  }

  std::filesystem::path dir_;
  QuietPanel panel_;
};

TEST_F(LineFaultTest, TheCountStartsAfterTheEraseAnswerAtTheFirstCommand) {
  // 0xC0 (with 8 reply bytes), 0xC5 (5), at least one 0xCA, 0xC1 0x03 (1).
  EXPECT_GE(kHostPrefix, 1u + 1u + 6u + 2u);
  EXPECT_EQ(kBoardPrefix, 8u + 5u + 1u);
  // Flipping the first counted byte turns 0xC0 into 0xC1: no identification.
  EXPECT_EQ(Write(Blocks({0x0}), {{Kind::kFlip, 1, 0}}, true), kIdNotReceived);
  EXPECT_FALSE(panel_.portOpenAtError);
  // The first counted reply byte is the first identification byte.
  EXPECT_EQ(Write(Blocks({0x0}), {{Kind::kReplyFlip, 1, 7}}, true), kIdMismatch);
}

TEST_F(LineFaultTest, AFlippedAddressBitIsReportedAsWrittenUnlessTheFlashIsChecked) {
  // Bit 2 of the third address byte of the first 0xC3: the block lands at
  // 0x400 instead of 0x0.
  const std::vector<LineFault> fault = {{Kind::kFlip, kHostPrefix + 4, 2}};
  EXPECT_EQ(Write(Blocks({0x0}), fault, false), kOk);
  const std::vector<std::uint8_t>& flash = board::SimBoard().Flash().Contents();
  EXPECT_FALSE(FlashHoldsTheImage());
  EXPECT_EQ(flash[0x0], 0xFF);
  EXPECT_EQ(flash[0x400], LoadImage[0x0]);

  EXPECT_EQ(Write(Blocks({0x0}), fault, true), kFlashMismatch);
  EXPECT_EQ(panel_.lastError, "Err:0308 書き込んだ内容がファイルと一致しません");
  EXPECT_FALSE(panel_.portOpenAtError);
  EXPECT_FALSE(IsPortOpen());
}

TEST_F(LineFaultTest, ReplyBytesTheLenientRuleTakesForSuccess) {
  // The first block's 0x06 arrives as 0x86: read as written, and it was.
  EXPECT_EQ(Write(Blocks({0x0, 0x80}), {{Kind::kReplyFlip, kBoardPrefix + 1, 7}}, true), kOk);
  EXPECT_TRUE(FlashHoldsTheImage());

  // A data byte of the second block flipped: the board refuses it (0x93),
  // and that reply arrives as 0x13, which also reads as written.
  const std::vector<LineFault> faults = {{Kind::kFlip, kHostPrefix + 134 + 10, 3},
                                         {Kind::kReplyFlip, kBoardPrefix + 2, 7}};
  EXPECT_EQ(Write(Blocks({0x0, 0x80}), faults, false), kOk);
  EXPECT_FALSE(FlashHoldsTheImage());
  EXPECT_EQ(Write(Blocks({0x0, 0x80}), faults, true), kFlashMismatch);
  EXPECT_FALSE(panel_.portOpenAtError);

  // The check's own answer damaged: a CRC bit is a mismatch, the closing
  // 0x06 a malformed answer.
  const std::uint64_t answer = kBoardPrefix + 2;  // after the block's reply
  EXPECT_EQ(Write(Blocks({0x0}), {{Kind::kReplyFlip, answer + 1, 0}}, true), kFlashMismatch);
  EXPECT_EQ(Write(Blocks({0x0}), {{Kind::kReplyFlip, answer + 4, 1}}, true), kBlockNoReply);
  EXPECT_FALSE(panel_.portOpenAtError);
}

TEST_F(LineFaultTest, ALostOrFlippedDataByteFailsTheBlock) {
  EXPECT_EQ(Write(Blocks({0x0}), {{Kind::kDrop, kHostPrefix + 20, 0}}, true), kBlockNoReply);
  EXPECT_FALSE(panel_.portOpenAtError);
  EXPECT_EQ(Write(Blocks({0x0}), {{Kind::kFlip, kHostPrefix + 20, 5}}, true), kBlockReceiveError);
  EXPECT_EQ(panel_.lastError, "Err:0305 受信エラー");
  EXPECT_FALSE(IsPortOpen());
}

// Seeded random images of a few blocks, each written with one random fault
// anywhere after the erase answer: a success must leave the image in the
// flash, a failure must close the port; the waits are bounded, so every
// run ends.
TEST_F(LineFaultTest, SoakOfRandomImagesEachWithOneRandomFault) {
  const char* env = std::getenv("VANTOR_SOAK_RUNS");
  const int runs = env != nullptr ? std::atoi(env) : VANTOR_SOAK_RUNS;
  std::mt19937 random(20261208);
  std::map<std::string, int> outcomes;
  const auto start = std::chrono::steady_clock::now();
  for (int run = 0; run < runs; ++run) {
    // One to four blocks, in one or two stretches, anywhere in the flash.
    testing::ImageData data;
    const unsigned blocks = 1 + random() % 4;
    std::uint32_t address = (random() % 0x800) * 0x80;
    std::uint64_t blockBytes = 0;
    for (unsigned b = 0; b < blocks; ++b) {
      std::vector<std::uint8_t> bytes(128);
      for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
      bytes[0] = bytes[0] == 0xFF ? 0x00 : bytes[0];
      data[address] = bytes;
      blockBytes += b == 0 || data.count(address - 0x80) == 0 ? 134 : 130;
      address += random() % 3 == 0 ? (1 + random() % 16) * 0x80 : 0x80;
      if (address >= kLoadImageSize) break;
    }
    LineFault fault;
    const unsigned kind = random() % 3;
    fault.kind = kind == 0 ? Kind::kFlip : kind == 1 ? Kind::kDrop : Kind::kReplyFlip;
    const std::uint64_t span = fault.kind == Kind::kReplyFlip
                                   ? kBoardPrefix + data.size() + kCheckAnswerBytes
                                   : kHostPrefix + blockBytes + kCheckRequestBytes;
    fault.byte = 1 + random() % span;
    fault.bit = random() % 8;

    const ErrorCode code = Write(data, {fault}, true);
    const std::string text = board::LineFaultText(fault);
    if (code == kOk) {
      ASSERT_TRUE(FlashHoldsTheImage()) << "run " << run << ": " << text << " reported success";
    } else {
      ASSERT_FALSE(panel_.portOpenAtError) << "run " << run << ": " << text;
      ASSERT_FALSE(IsPortOpen()) << "run " << run << ": " << text;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%d", code);
    ++outcomes[name];
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string summary;
  for (const auto& [code, count] : outcomes) summary += " " + code + ":" + std::to_string(count);
  std::printf("soak: %d runs in %.1f s; outcomes by code (0 success):%s\n", runs, seconds,
              summary.c_str());
  if (runs >= 10) {
    EXPECT_GT(outcomes.size(), 1u) << "no fault ever failed a write";
  }
}

}  // namespace
}  // namespace vantor
