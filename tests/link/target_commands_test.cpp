// The write-control program's commands over the fake line.
#include "link/target_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/load_image.h"
#include "tests/support/chip_on_fake_line.h"

namespace vantor {
namespace {

using namespace vantor::testing;

const Bytes kId = {0x5E, 0x17, 0xA9, 0x3B, 0xD4, 0x62, 0x8F};
constexpr std::uint64_t kReplyWaitMs = 1000 * (10 + 1);

class TargetCommands : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(LoadImage, 0xFF, kLoadImageSize); }
  void TearDown() override { std::memset(LoadImage, 0xFF, kLoadImageSize); }

  OpenedFakeLine line_;
};

TEST_F(TargetCommands, IdentificationAccepted) {
  line_.Queue(kId);
  line_.Queue(0x80);
  EXPECT_EQ(CheckTargetId(), kOk);
  EXPECT_EQ(line_.Sent(), Bytes{0xC0});
}

TEST_F(TargetCommands, WrongFirstIdByteStopsWithoutReadingTheRest) {
  Bytes reply = kId;
  reply[0] = 0x5F;
  line_.Queue(reply);
  line_.Queue(0x80);
  EXPECT_EQ(CheckTargetId(), kIdMismatch);
  EXPECT_EQ(line_.Reads(), 1u);
  EXPECT_EQ(line_.Pending(), 7u);
  EXPECT_EQ(line_.Now(), 0u);
}

TEST_F(TargetCommands, SilenceAfterThreeIdBytesTimesOutAfterElevenSeconds) {
  line_.Queue({0x5E, 0x17, 0xA9});
  EXPECT_EQ(CheckTargetId(), kIdNotReceived);
  EXPECT_EQ(line_.Reads(), 3u + 1000u);
  EXPECT_EQ(line_.Sleeps(), 1000u);
  EXPECT_EQ(line_.Now(), kReplyWaitMs);
}

TEST_F(TargetCommands, IdentificationCompletion) {
  line_.Queue(kId);
  EXPECT_EQ(CheckTargetId(), kNoCompletion);
  EXPECT_EQ(line_.Now(), kReplyWaitMs);

  line_.Queue(kId);
  line_.Queue(0x81);
  EXPECT_EQ(CheckTargetId(), kCommandFailed);
}

TEST_F(TargetCommands, ReplyWaitTakesAByteOnItsLastTry) {
  line_.Queue(kId);
  line_.Queue(0x80, /*silentReads=*/999);
  EXPECT_EQ(CheckTargetId(), kOk);
  EXPECT_EQ(line_.Sleeps(), 999u);
}

TEST_F(TargetCommands, ReadErrorsOnlyCountAsFailedTries) {
  line_.FailReadsFrom(0);
  EXPECT_EQ(EnterWriteMode(), kNoCompletion);
  EXPECT_EQ(line_.FailedReads(), 1000u);
  EXPECT_EQ(line_.Sleeps(), 1000u);
}

TEST_F(TargetCommands, WriteMode) {
  line_.Queue(0x80);
  EXPECT_EQ(EnterWriteMode(), kOk);
  EXPECT_EQ(line_.Sent(), (Bytes{0xC1, 0x03}));

  line_.Queue(0x00);
  EXPECT_EQ(EnterWriteMode(), kCommandFailed);
  EXPECT_EQ(EnterWriteMode(), kNoCompletion);
}

TEST_F(TargetCommands, SendFailuresEndACommandWithoutWaiting) {
  line_.FailSend(0, kWriteFailed);
  EXPECT_EQ(CheckTargetId(), kWriteFailed);
  line_.FailSend(2, kWriteTimeout);  // the 0x03 of write mode
  EXPECT_EQ(EnterWriteMode(), kWriteTimeout);
  EXPECT_EQ(line_.Sent(), Bytes{0xC1});
  EXPECT_EQ(line_.Reads(), 0u);
}

TEST_F(TargetCommands, BlockAtTheTopOfTheFlashGoesOutWithItsAddress) {
  for (std::uint32_t i = 0; i < 128; ++i) LoadImage[0x3FF80 + i] = static_cast<std::uint8_t>(i * 3);
  line_.Queue(0x06);
  EXPECT_EQ(WriteBlockAt(0x3FF80), kOk);
  Bytes expected = {0xC3, 0x00, 0x03, 0xFF, 0x80};
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < 128; ++i) {
    expected.push_back(static_cast<std::uint8_t>(i * 3));
    sum = static_cast<std::uint8_t>(sum + i * 3);
  }
  expected.push_back(sum);
  EXPECT_EQ(line_.Sent(), expected);
}

TEST_F(TargetCommands, ContinuationBlockHasNoAddress) {
  LoadImage[0x100] = 0x12;
  LoadImage[0x17F] = 0x34;
  line_.Queue(0x00);
  EXPECT_EQ(WriteNextBlock(0x100), kOk);
  ASSERT_EQ(line_.Sent().size(), 130u);
  EXPECT_EQ(line_.Sent()[0], 0xC7);
  EXPECT_EQ(line_.Sent()[1], 0x12);
  EXPECT_EQ(line_.Sent()[2], 0xFF);
  EXPECT_EQ(line_.Sent()[128], 0x34);
  EXPECT_EQ(line_.Sent()[129], static_cast<std::uint8_t>(0x12 + 0x34 + 126 * 0xFF));
}

TEST_F(TargetCommands, ChecksumIsThePlainSumOfTheData) {
  const std::pair<std::uint8_t, std::uint8_t> cases[] = {{0x01, 0x80}, {0x02, 0x00}, {0xFF, 0x80}};
  for (const auto& [fill, sum] : cases) {
    std::memset(LoadImage + 0x200, fill, 128);
    line_.ClearLog();
    line_.Queue(0x06);
    ASSERT_EQ(WriteBlockAt(0x200), kOk);
    EXPECT_EQ(line_.Sent().back(), sum) << int{fill};
  }
}

TEST_F(TargetCommands, BlockReplies) {
  struct Case {
    Bytes reply;
    ErrorCode expected;
    std::size_t waits;  // reply waits that ran out
  };
  const Case cases[] = {
      {{0x92}, kBlockBadParameter, 0},
      {{0x93}, kBlockReceiveError, 0},
      {{0xB1, 0xD5}, kBlockWriteFailed, 0},
      {{0xB1, 0x00}, kOk, 0},
      {{0xB1}, kBlockNoReply, 1},
      {{}, kBlockNoReply, 1},
      {{0x80}, kOk, 0},
      {{0x00}, kOk, 0},
      {{0x06}, kOk, 0},
      {{0xD5}, kOk, 0},
  };
  for (const Case& c : cases) {
    for (const bool withAddress : {true, false}) {
      line_.ClearLog();
      line_.Queue(c.reply);
      const ErrorCode code = withAddress ? WriteBlockAt(0x80) : WriteNextBlock(0x80);
      EXPECT_EQ(code, c.expected) << int{c.reply.empty() ? -1 : c.reply[0]};
      EXPECT_EQ(line_.Now(), c.waits * kReplyWaitMs);
      EXPECT_EQ(line_.Pending(), 0u);
    }
  }
}

TEST_F(TargetCommands, SendFailureAtTheFiftiethDataByteSendsNoChecksum) {
  line_.FailSend(1 + 4 + 49, kWriteTimeout);
  EXPECT_EQ(WriteBlockAt(0x1000), kWriteTimeout);
  EXPECT_EQ(line_.Sent().size(), 1u + 4u + 49u);
  EXPECT_EQ(line_.Reads(), 0u);

  line_.ClearLog();
  line_.FailSend(1 + 49, kWriteFailed);
  EXPECT_EQ(WriteNextBlock(0x1000), kWriteFailed);
  EXPECT_EQ(line_.Sent().size(), 1u + 49u);
}

TEST_F(TargetCommands, BlocksReachAScriptedChip) {
  ChipPlayer::Options options;
  options.programRunning = true;
  ChipPlayer chip(options);
  ConnectChip(chip, line_);
  for (std::uint32_t i = 0; i < 256; ++i)
    LoadImage[0x400 + i] = static_cast<std::uint8_t>(i ^ 0x5A);
  ASSERT_EQ(EnterWriteMode(), kOk);
  ASSERT_EQ(WriteBlockAt(0x400), kOk);
  ASSERT_EQ(WriteNextBlock(0x480), kOk);
  EXPECT_EQ(chip.BlockAddresses(), (std::vector<std::uint32_t>{0x400, 0x480}));
  EXPECT_EQ(0, std::memcmp(chip.Image().data() + 0x400, LoadImage + 0x400, 256));
  EXPECT_TRUE(chip.ProtocolError().empty()) << chip.ProtocolError();
}

TEST_F(TargetCommands, BlockBeyondTheFlashSendsErasedBytes) {
  // Nothing outside the image is read: such bytes go out as 0xFF.
  line_.Queue(0x06);
  EXPECT_EQ(WriteBlockAt(0xFFFFFFC0u), kOk);
  ASSERT_EQ(line_.Sent().size(), 134u);
  EXPECT_EQ(Bytes(line_.Sent().begin() + 5, line_.Sent().end() - 1), Bytes(128, 0xFF));
}

TEST_F(TargetCommands, BlankBlocks) {
  EXPECT_TRUE(IsBlankBlock(0));
  LoadImage[0x7F] = 0xFE;  // the last byte of the first block
  EXPECT_FALSE(IsBlankBlock(0));
  EXPECT_TRUE(IsBlankBlock(0x80));
  LoadImage[0x3FFFF] = 0x00;
  EXPECT_FALSE(IsBlankBlock(0x3FF80));
  EXPECT_FALSE(IsBlankBlock(0x3FFC0));  // straddles the end: only the part below counts
  EXPECT_TRUE(IsBlankBlock(0x40000));   // wholly above the flash
  LoadImage[0] = 0x00;
  EXPECT_TRUE(IsBlankBlock(0xFFFFFFC0u));  // no wrap to address 0
}

}  // namespace
}  // namespace vantor
