// The write procedure end to end over the in-memory line: a recording panel,
// the fake transport with its virtual clock, and the scripted chip on the far
// end. Silent targets cost virtual time only.
#include "app/write_operation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/messages.h"
#include "image/load_image.h"
#include "link/line_rate.h"
#include "link/serial_link.h"
#include "tests/app/srecord_file.h"
#include "tests/support/chip_on_fake_line.h"

namespace vantor {
namespace {

using testing::ChipPlayer;
using testing::FakeLineGuard;
using testing::FakeTransport;
using testing::ImageData;
using Fault = ChipPlayer::Fault;

// Records every call, and whether the port was open at that moment.
class RecordingPanel : public OperatorPanel {
 public:
  std::string fileField;
  std::string portField;
  std::vector<std::string> events;
  std::vector<bool> portOpenAt;  // per event

  int ReadFileField() override {
    Note("read-file");
    return StoreFieldText(fileField.data(), fileField.size(), g_filePath, sizeof g_filePath);
  }
  void ClearFileField() override {
    Note("clear-file");
    fileField.clear();
  }
  int ReadPortField() override {
    Note("read-port");
    return StoreFieldText(portField.data(), portField.size(), g_portName, sizeof g_portName);
  }
  void ShowStatus(const char* text) override { Note(std::string("status ") + text); }
  void ShowPrompt(const char* text) override { Note(std::string("prompt ") + text); }
  void ShowErrorBox(const char* message) override { Note(std::string("error ") + message); }

  // Only the events the operator sees.
  std::vector<std::string> Shown() const {
    std::vector<std::string> shown;
    for (const std::string& e : events) {
      if (e.rfind("status ", 0) == 0 || e.rfind("prompt ", 0) == 0 || e.rfind("error ", 0) == 0) {
        shown.push_back(e);
      }
    }
    return shown;
  }

 private:
  void Note(std::string event) {
    events.push_back(std::move(event));
    portOpenAt.push_back(IsPortOpen());
  }
};

std::string Status(const char* text) {
  return std::string("status ") + text;
}
std::string Prompt(const char* text) {
  return std::string("prompt ") + text;
}
std::string BlockStatus(std::uint32_t address) {
  char text[64];
  std::snprintf(text, sizeof text, kStatusBlockFormat, static_cast<unsigned>(address));
  return Status(text);
}

class WriteOperationTest : public ::testing::Test {
 protected:
  WriteOperationTest() {
    testing::ConnectChip(chip_, line_);
    dir_ = testing::MakeScratchDirectory("write");
  }
  ~WriteOperationTest() override { std::filesystem::remove_all(dir_); }

  // A loadable file with the given contents, and both fields filled.
  void PrepareFile(const ImageData& data) {
    panel_.fileField = testing::WriteMotFile(dir_ / "image.mot", data);
    panel_.portField = "COM3";
  }
  void PrepareBlocks(std::initializer_list<std::uint32_t> addresses) {
    ImageData data;
    for (std::uint32_t address : addresses) data[address] = testing::BlockPattern(address);
    PrepareFile(data);
  }

  // Each run finds the board freshly powered on in boot mode.
  ErrorCode Run(const WriteOptions& options = {}) {
    chip_.PowerOn();
    FakeLineGuard guard(line_, /*open=*/false);
    return RunWriteOperation(panel_, options);
  }

  // The message before the failure text, and whether the port was closed
  // when it was shown.
  std::string LastMessage() const {
    const std::vector<std::string> shown = panel_.Shown();
    return shown.size() < 2 ? std::string() : shown[shown.size() - 2];
  }
  bool ClosedForTheMessage() const {
    return panel_.events.size() >= 2 && !panel_.portOpenAt[panel_.events.size() - 2] &&
           !line_.IsOpen();
  }

  // The blocks the chip took, as "C3@00000000" texts.
  std::vector<std::string> BlocksSeen() const {
    std::vector<std::string> seen;
    for (const auto& block : chip_.Blocks()) {
      char text[32];
      std::snprintf(text, sizeof text, "%02X@%08X", block.command,
                    static_cast<unsigned>(block.address));
      seen.emplace_back(text);
    }
    return seen;
  }

  bool ChipHoldsTheLoadImage() const {
    const std::vector<std::uint8_t> flash = chip_.Image();
    return std::memcmp(flash.data(), LoadImage, kLoadImageSize) == 0;
  }

  FakeTransport line_;
  ChipPlayer chip_;
  RecordingPanel panel_;
  std::filesystem::path dir_;
};

TEST_F(WriteOperationTest, SuccessfulRunShowsEveryTextInOrderAndClosesThePortBeforeTheEnd) {
  PrepareBlocks({0x0, 0x80});
  ASSERT_EQ(Run(), kOk);

  const std::vector<std::string> expected = {
      Prompt(kPromptPowerOn),   Status(kStatusBootMode), Status(kStatusTransfer),
      Status(kStatusErasing),   BlockStatus(0x0),        BlockStatus(0x80),
      Status(kStatusVerifying), Status(kStatusComplete), Prompt(kPromptPowerOff),
  };
  EXPECT_EQ(panel_.Shown(), expected);
  EXPECT_EQ(std::string(kStatusBlockFormat), "書き込み中 h'%08X");

  // The port is open from the first prompt to the last block, closed for the end.
  for (std::size_t i = 0; i < panel_.events.size(); ++i) {
    const std::string& e = panel_.events[i];
    const bool duringTheWrite =
        e == Prompt(kPromptPowerOn) || e == BlockStatus(0x80) || e == Status(kStatusVerifying);
    const bool outsideIt = e == Status(kStatusComplete) || e == Prompt(kPromptPowerOff) ||
                           e == "read-file" || e == "read-port";
    if (duringTheWrite) {
      EXPECT_TRUE(panel_.portOpenAt[i]) << e;
    }
    if (outsideIt) {
      EXPECT_FALSE(panel_.portOpenAt[i]) << e;
    }
  }
  EXPECT_EQ(line_.OpenCount(), 1u);
  EXPECT_FALSE(line_.IsOpen());
  EXPECT_EQ(line_.Settings().baudRate, 9600u);
  EXPECT_EQ(line_.Settings().dataBits, 8u);
  EXPECT_EQ(line_.Settings().parity, 0u);
  EXPECT_EQ(line_.Settings().stopBits, 0u);

  EXPECT_EQ(chip_.Commands().front(), 0xC0);
  EXPECT_TRUE(ChipHoldsTheLoadImage());
}

// Each failure of the failure table: its own code, shown after the port was
// closed, with the failure text last.
struct FailureCase {
  const char* name;
  Fault fault;
  std::size_t faultIndex;
  ErrorCode expected;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteOperationFailure : public WriteOperationTest,
                              public ::testing::WithParamInterface<FailureCase> {};

TEST_P(WriteOperationFailure, ShowsTheFailingStepsCodeAfterClosingThePort) {
  const FailureCase& c = GetParam();
  chip_.SetFault(c.fault, c.faultIndex);
  PrepareBlocks({0x0, 0x80, 0x100});
  EXPECT_EQ(Run(), c.expected);

  const std::vector<std::string> shown = panel_.Shown();
  ASSERT_GE(shown.size(), 2u);
  char message[64];
  std::snprintf(message, sizeof message, "error Err:%04d", c.expected);
  EXPECT_EQ(shown[shown.size() - 2].rfind(message, 0), 0u) << shown[shown.size() - 2];
  EXPECT_EQ(shown.back(), Status("書き込み出来ませんでした"));
  EXPECT_FALSE(panel_.portOpenAt[panel_.events.size() - 2]) << "port open during the message";
  EXPECT_EQ(line_.OpenCount(), 1u);
  EXPECT_FALSE(line_.IsOpen());
  EXPECT_EQ(std::count(shown.begin(), shown.end(), Prompt(kPromptPowerOff)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, WriteOperationFailure,
    ::testing::Values(
        FailureCase{"BitRateSilent", Fault::kBitRateSilent, 0, kBitRateNoAnswer},
        FailureCase{"BitRateWrong", Fault::kBitRateWrongAnswer, 0, kBitRateWrongAnswer},
        FailureCase{"HandshakeSilent", Fault::kHandshakeSilent, 0, kHandshakeNoAnswer},
        FailureCase{"HandshakeWrong", Fault::kHandshakeWrong, 0, kHandshakeWrongAnswer},
        FailureCase{"LengthSilent", Fault::kLengthSilent, 0, kLengthHighNoEcho},
        FailureCase{"LengthEcho", Fault::kLengthWrongEcho, 0, kLengthHighWrongEcho},
        FailureCase{"LengthLowEcho", Fault::kLengthLowWrongEcho, 0, kLengthLowWrongEcho},
        FailureCase{"ProgramEcho", Fault::kProgramWrongEcho, 499, kProgramWrongEcho},
        FailureCase{"ProgramSilent", Fault::kProgramSilent, 10, kProgramNoEcho},
        FailureCase{"EraseSilent", Fault::kEraseSilent, 0, kEraseNoSignal},
        FailureCase{"EraseWrong", Fault::kEraseWrong, 0, kEraseWrongSignal},
        FailureCase{"IdWrong", Fault::kIdWrong, 0, kIdMismatch},
        FailureCase{"IdSilent", Fault::kIdSilent, 0, kIdNotReceived},
        FailureCase{"IdCompletion", Fault::kIdCompletionWrong, 0, kCommandFailed},
        FailureCase{"ClockCompletion", Fault::kClockCompletionWrong, 0, kCommandFailed},
        FailureCase{"WriteModeRefused", Fault::kWriteModeRefused, 0, kCommandFailed},
        FailureCase{"BlockChecksum", Fault::kBlockChecksum, 1, kBlockReceiveError},
        FailureCase{"BlockParameter", Fault::kBlockBadParameter, 2, kBlockBadParameter},
        FailureCase{"BlockProgramFailed", Fault::kBlockProgramFailed, 0, kBlockWriteFailed},
        FailureCase{"BlockSilent", Fault::kBlockSilent, 1, kBlockNoReply}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

TEST_F(WriteOperationTest, AFailedBlockLeavesItsAddressAsTheLastStatusBeforeTheMessage) {
  chip_.SetFault(Fault::kBlockChecksum, 1);
  PrepareBlocks({0x1000, 0x1080, 0x1100});
  EXPECT_EQ(Run(), kBlockReceiveError);
  const std::vector<std::string> shown = panel_.Shown();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[shown.size() - 3], BlockStatus(0x1080));
  EXPECT_EQ(chip_.BlocksReceived(), 2u);  // nothing after the failed block
}

TEST_F(WriteOperationTest, LineFailuresEndTheRunWithTheLinksCode) {
  PrepareBlocks({0x0});
  {
    line_.SetOpenResult(kPortOpenFailed);
    EXPECT_EQ(Run(), kPortOpenFailed);
    EXPECT_EQ(panel_.Shown().front().rfind("error Err:0201", 0), 0u);
    EXPECT_EQ(std::count(panel_.events.begin(), panel_.events.end(), Prompt(kPromptPowerOn)), 0);
  }
  {
    // Opened but not configured: the link holds the port, and the run must
    // close it.
    panel_.events.clear();
    line_.SetOpenResult(kPortSetupFailed);
    EXPECT_EQ(Run(), kPortSetupFailed);
    EXPECT_EQ(line_.CloseCount(), line_.OpenCount());
    EXPECT_FALSE(IsPortOpen());
    line_.SetOpenResult(kOk);
  }
  {
    panel_.events.clear();
    line_.FailSend(line_.SendAttempts() + 600, kWriteTimeout);
    EXPECT_EQ(Run(), kWriteTimeout);
    EXPECT_FALSE(line_.IsOpen());
    EXPECT_EQ(panel_.Shown().back(), Status("書き込み出来ませんでした"));
  }
}

TEST_F(WriteOperationTest, AChatteringLineBeforeBootModeGivesTheDrainCode) {
  PrepareBlocks({0x0});
  line_.FeedEndlessly(0x3C);
  EXPECT_EQ(Run(), kDrainOverrun);
  EXPECT_FALSE(line_.IsOpen());
  EXPECT_TRUE(line_.Sent().empty());
}

TEST_F(WriteOperationTest, FieldsAreCheckedInOrderAndNothingOpensBeforeThePortName) {
  {  // empty file field: 30, nothing read further, nothing opened
    panel_.fileField = "";
    panel_.portField = "COM3";
    EXPECT_EQ(Run(), kNoFileSelected);
    EXPECT_EQ(panel_.events.front(), "read-file");
    EXPECT_EQ(std::count(panel_.events.begin(), panel_.events.end(), "read-port"), 0);
    EXPECT_EQ(panel_.Shown().front().rfind("error Err:0030", 0), 0u);
  }
  {  // a file that does not load: its code, the file field emptied first,
     // and the port field never looked at, even when it is empty
    panel_.events.clear();
    panel_.fileField = (dir_ / "missing.mot").string();
    panel_.portField = "";
    EXPECT_EQ(Run(), kFileNotFound);
    EXPECT_TRUE(panel_.fileField.empty());
    const std::vector<std::string> expected = {"read-file", "clear-file",
                                               "error Err:0103 ファイルが見つかりません",
                                               Status("書き込み出来ませんでした")};
    EXPECT_EQ(panel_.events, expected);
  }
  {  // a good file and no port: 50, after the image was loaded
    panel_.events.clear();
    PrepareBlocks({0x2000});
    panel_.portField = "";
    EXPECT_EQ(Run(), kNoPortSelected);
    EXPECT_EQ(LoadImage[0x2000], testing::BlockPattern(0x2000)[0]);
    EXPECT_EQ(panel_.Shown().front().rfind("error Err:0050", 0), 0u);
    EXPECT_FALSE(panel_.fileField.empty());
  }
  EXPECT_EQ(line_.OpenCount(), 0u);
}

TEST_F(WriteOperationTest, PortNamesArriveWholeAndOverlongTextsAreRefusedWhole) {
  PrepareBlocks({0x0});
  panel_.portField = "COM10";
  EXPECT_EQ(Run(), kOk);
  EXPECT_EQ(line_.PortName(), "COM10");

  panel_.portField = "/dev/serial/by-id/" + std::string(250, 'x');  // 268 bytes
  EXPECT_EQ(Run(), kPortNameTooLong);
  EXPECT_EQ(line_.OpenCount(), 1u);  // only the first run opened
  EXPECT_EQ(g_portName[0], '\0');    // nothing of the name was kept

  panel_.portField = std::string(255, 'p');  // fits exactly: reaches the open
  line_.SetOpenResult(kPortOpenFailed);
  EXPECT_EQ(Run(), kPortOpenFailed);
  EXPECT_EQ(line_.PortName(), std::string(255, 'p'));

  panel_.fileField = (dir_ / std::string(250, 'f')).string() + ".mot";
  EXPECT_EQ(Run(), kFilePathTooLong);
  EXPECT_EQ(panel_.Shown()[panel_.Shown().size() - 2].rfind("error Err:0031", 0), 0u);
}

// Which blocks go with their address and which as continuation blocks.
struct BlockCase {
  const char* name;
  std::vector<std::uint32_t> addresses;
  std::vector<std::string> expected;  // command@address as the chip took them
};

void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteOperationBlocks : public WriteOperationTest,
                             public ::testing::WithParamInterface<BlockCase> {};

TEST_P(WriteOperationBlocks, ContinuationBlocksFollowThePreviousBlockStartingFromZero) {
  ImageData data;
  for (std::uint32_t address : GetParam().addresses) data[address] = testing::BlockPattern(address);
  PrepareFile(data);
  ASSERT_EQ(Run(), kOk);
  EXPECT_EQ(BlocksSeen(), GetParam().expected);
  EXPECT_TRUE(ChipHoldsTheLoadImage());
}

INSTANTIATE_TEST_SUITE_P(
    ContinuationRule, WriteOperationBlocks,
    ::testing::Values(BlockCase{"BlockZeroAlone", {0x0}, {"C3@00000000"}},
                      BlockCase{"FirstAt0x80", {0x80}, {"C7@00000080"}},
                      BlockCase{"FirstAt0x100", {0x100}, {"C3@00000100"}},
                      BlockCase{"StretchGapStretch",
                                {0x1000, 0x1080, 0x1100, 0x2000},
                                {"C3@00001000", "C7@00001080", "C7@00001100", "C3@00002000"}},
                      BlockCase{"LastBlock", {0x3FF00, 0x3FF80}, {"C3@0003FF00", "C7@0003FF80"}}),
    [](const ::testing::TestParamInfo<BlockCase>& param) { return param.param.name; });

TEST_F(WriteOperationTest, TheLastBlockOfTheFlashIsWrittenWithItsAddress) {
  ImageData data;
  data[0x3FFFF] = {0x12};
  PrepareFile(data);
  ASSERT_EQ(Run(), kOk);
  EXPECT_EQ(BlocksSeen(), std::vector<std::string>{"C3@0003FF80"});
  const std::vector<std::string> shown = panel_.Shown();
  EXPECT_EQ(shown[shown.size() - 4], BlockStatus(0x3FF80));
  EXPECT_EQ(shown[shown.size() - 4], Status("書き込み中 h'0003FF80"));
  EXPECT_EQ(chip_.Image()[0x3FFFF], 0x12);
}

TEST_F(WriteOperationTest, ABlankImageRunsEveryPreparationStepAndSendsNoBlock) {
  ImageData data;
  data[0x400] = std::vector<std::uint8_t>(256, 0xFF);
  PrepareFile(data);
  ASSERT_EQ(Run(), kOk);

  const std::vector<std::string> expected = {
      Prompt(kPromptPowerOn),  Status(kStatusBootMode),  Status(kStatusTransfer),
      Status(kStatusErasing),  Status(kStatusVerifying), Status(kStatusComplete),
      Prompt(kPromptPowerOff),
  };
  EXPECT_EQ(panel_.Shown(), expected);
  EXPECT_EQ(chip_.Commands(), (std::vector<std::uint8_t>{0xC0, 0xC5, 0xC1, 0xCC}));
  EXPECT_TRUE(chip_.WriteModeEntered());
  EXPECT_EQ(chip_.BlocksReceived(), 0u);
}

TEST_F(WriteOperationTest, TheBlockReportCountsTheNonBlankBlocks) {
  struct ProgressPanel : RecordingPanel {
    std::vector<BlockProgress> seen;
    void ShowBlockStatus(const char* text, const BlockProgress& progress) override {
      seen.push_back(progress);
      RecordingPanel::ShowBlockStatus(text, progress);
    }
  } panel;
  ImageData data;
  for (std::uint32_t address : {0x0u, 0x80u, 0x4000u})
    data[address] = testing::BlockPattern(address);
  panel.fileField = testing::WriteMotFile(dir_ / "image.mot", data);
  panel.portField = "COM3";
  FakeLineGuard guard(line_, false);
  ASSERT_EQ(RunWriteOperation(panel), kOk);
  ASSERT_EQ(panel.seen.size(), 3u);
  EXPECT_EQ(panel.seen[2].address, 0x4000u);
  EXPECT_EQ(panel.seen[2].blocksDone, 2u);
  EXPECT_EQ(panel.seen[2].blocksTotal, 3u);
  // The default report is the ordinary status text.
  EXPECT_EQ(std::count(panel.events.begin(), panel.events.end(), BlockStatus(0x4000)), 1);
}

// The check after the last block: the chip's CRC-32 of its whole flash.
TEST_F(WriteOperationTest, TheCheckAsksForTheWholeFlashAndOnlyItsAnswerDecides) {
  PrepareBlocks({0x0, 0x80, 0x3FF80});
  ASSERT_EQ(Run(), kOk);
  const std::vector<std::uint8_t> checked = line_.Sent();
  const std::vector<std::uint8_t> request = {0xCC, 0, 0, 0, 0, 0x00, 0x04, 0x00, 0x00};
  ASSERT_GT(checked.size(), request.size());
  EXPECT_TRUE(std::equal(request.begin(), request.end(), checked.end() - 9));

  // Without the check the line carries the same bytes up to the request.
  line_.ClearLog();
  WriteOptions unchecked;
  unchecked.verify = false;
  ASSERT_EQ(Run(unchecked), kOk);
  EXPECT_EQ(line_.Sent(), std::vector<std::uint8_t>(checked.begin(), checked.end() - 9));
  EXPECT_EQ(std::count(panel_.events.begin(), panel_.events.end(), Status(kStatusVerifying)), 1);

  struct Answer {
    Fault fault;
    ErrorCode expected;
  };
  for (const Answer& answer :
       {Answer{Fault::kCrcWrong, kFlashMismatch}, Answer{Fault::kCrcSilent, kBlockNoReply},
        Answer{Fault::kCrcEndWrong, kBlockNoReply}}) {
    panel_.events.clear();
    panel_.portOpenAt.clear();
    chip_.SetFault(answer.fault);
    EXPECT_EQ(Run(), answer.expected);
    char message[16];
    std::snprintf(message, sizeof message, "error Err:%04d", answer.expected);
    EXPECT_EQ(LastMessage().rfind(message, 0), 0u) << LastMessage();
    EXPECT_TRUE(ClosedForTheMessage());
    const std::vector<std::string> shown = panel_.Shown();
    EXPECT_EQ(shown[shown.size() - 3], Status(kStatusVerifying));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), Prompt(kPromptPowerOff)), 0);
  }
}

TEST_F(WriteOperationTest, ARefusedBlockWhoseReplyReadsAsSuccessIsCaughtOnlyByTheCheck) {
  // The chip refuses the second block (0x93) and the line turns the reply
  // into 0x13, which the block rule takes for "written".
  chip_.SetFault(Fault::kBlockRefusalGarbled, 1);
  PrepareBlocks({0x1000, 0x1080, 0x1100});
  WriteOptions unchecked;
  unchecked.verify = false;
  EXPECT_EQ(Run(unchecked), kOk);
  EXPECT_FALSE(ChipHoldsTheLoadImage());  // reported as written, yet missing

  chip_.SetFault(Fault::kBlockRefusalGarbled, chip_.BlocksReceived() + 1);  // blocks count on
  EXPECT_EQ(Run(), kFlashMismatch);
  EXPECT_EQ(LastMessage(), "error Err:0308 書き込んだ内容がファイルと一致しません");
  EXPECT_TRUE(ClosedForTheMessage());
}

TEST_F(WriteOperationTest, WrongRecordChecksumsWarnBeforeTheWriteOrRefuseTheFileWhenStrict) {
  PrepareBlocks({0x0});
  {  // one record spoiled at line 3: still written, with the warning first
    std::FILE* file = std::fopen(panel_.fileField.c_str(), "r+");
    ASSERT_NE(file, nullptr);
    char line[128];
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    const long third = std::ftell(file);
    ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
    const std::size_t length = std::strlen(line);  // ends in the checksum and "\n"
    std::fseek(file, third + static_cast<long>(length) - 2, SEEK_SET);
    std::fputc(line[length - 2] == '0' ? '1' : '0', file);
    std::fclose(file);
  }
  ASSERT_EQ(Run(), kOk);
  const std::vector<std::string> shown = panel_.Shown();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0], Status("警告: チェックサムが違うレコードが1件あります(最初は3行目)"));
  EXPECT_EQ(shown[1], Prompt(kPromptPowerOn));
  EXPECT_TRUE(ChipHoldsTheLoadImage());

  panel_.events.clear();
  const std::size_t opened = line_.OpenCount();
  WriteOptions strict;
  strict.strict = true;
  EXPECT_EQ(Run(strict), kRecordChecksumWrong);
  EXPECT_EQ(line_.OpenCount(), opened);
  EXPECT_TRUE(panel_.fileField.empty());
  EXPECT_EQ(std::count(panel_.events.begin(), panel_.events.end(), "read-port"), 0);
  EXPECT_EQ(LastMessage(), "error Err:0106 チェックサムが違うレコードがあります");

  // A good file gives neither warning nor refusal, strict or not.
  PrepareBlocks({0x0});
  panel_.events.clear();
  EXPECT_EQ(Run(strict), kOk);
  EXPECT_EQ(panel_.Shown()[0], Prompt(kPromptPowerOn));
}

// The fast line through the whole write.
class FastLineWriteTest : public WriteOperationTest {
 protected:
  ~FastLineWriteTest() override { SetLineRateRequest({}); }
};

// The line carries exactly the stream recorded before the fast line existed
// when no other rate is asked for: the boot exchange, the program, the
// clock set-up, the blocks. The program and the clock table come from the
// embedded data, so a new firmware build needs a new recording:
// VANTOR_RECORD_STREAM=tests/app/data/default_stream.hex writes it.
TEST_F(FastLineWriteTest, WithoutARateRequestTheLineCarriesTheRecordedStream) {
  PrepareBlocks({0x0, 0x80, 0x1000, 0x3FF80});
  ASSERT_EQ(Run(), kOk);
  const std::vector<std::uint8_t>& sent = line_.Sent();
  EXPECT_TRUE(line_.RateRequests().empty());

  if (const char* record = std::getenv("VANTOR_RECORD_STREAM")) {
    std::FILE* out = std::fopen(record, "w");
    ASSERT_NE(out, nullptr);
    for (std::size_t i = 0; i < sent.size(); ++i) {
      std::fprintf(out, "%02X%c", sent[i], i % 32 == 31 ? '\n' : ' ');
    }
    std::fputc('\n', out);
    std::fclose(out);
  }
  std::FILE* in = std::fopen(VANTOR_DEFAULT_STREAM, "r");
  ASSERT_NE(in, nullptr) << VANTOR_DEFAULT_STREAM;
  std::vector<std::uint8_t> recorded;
  unsigned byte = 0;
  while (std::fscanf(in, "%2X", &byte) == 1) recorded.push_back(static_cast<std::uint8_t>(byte));
  std::fclose(in);
  ASSERT_EQ(sent.size(), recorded.size());
  EXPECT_TRUE(sent == recorded);
}

TEST_F(FastLineWriteTest, FastWritesTheImageAtTheChosenRateAndShowsIt) {
  PrepareBlocks({0x0, 0x80, 0x3FF80});
  line_.SetTakesAnyRate(true);
  SetLineRateRequest({LineRateMode::kFastest, 0});
  ASSERT_EQ(Run(), kOk);
  EXPECT_TRUE(ChipHoldsTheLoadImage());
  EXPECT_EQ(chip_.RateSwitches(), 1u);
  EXPECT_EQ(chip_.GarbledBytes(), 0u);
  EXPECT_EQ(chip_.ProtocolError(), "");
  EXPECT_FALSE(line_.IsOpen());
  const std::vector<std::string> shown = panel_.Shown();
  EXPECT_NE(std::find(shown.begin(), shown.end(), Status("通信速度切り替え中 624000 bit/s")),
            shown.end());
  // The switch comes after write mode, the block stream's loader next; the
  // blocks go through the stream, and its end brings the check.
  const std::vector<std::uint8_t> commands = chip_.Commands();
  const auto at = std::find(commands.begin(), commands.end(), 0xCB);
  ASSERT_NE(at, commands.end());
  EXPECT_EQ(std::vector<std::uint8_t>(at - 1, commands.end()),
            (std::vector<std::uint8_t>{0xC1, 0xCB, 0xCB, 0xC3, 0xC7, 0xC3}));
  EXPECT_TRUE(chip_.StreamStarted());
  EXPECT_EQ(chip_.StreamBlocks(), 3u);
  EXPECT_FALSE(chip_.Received(0xCC));
  EXPECT_NE(std::find(shown.begin(), shown.end(), Status(kStatusVerifying)), shown.end());
}

// The stream's failures reach the operator with the codes of the block
// commands': the chip's refusals and silences, a wrong or missing CRC at the
// end, and a stream code that arrived damaged.
class FastLineFailure : public FastLineWriteTest,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FastLineFailure, TheStreamsFailuresCarryTheBlockCommandsCodes) {
  const FailureCase& c = GetParam();
  chip_.SetFault(c.fault, c.faultIndex);
  PrepareBlocks({0x0, 0x80, 0x1000});
  line_.SetTakesAnyRate(true);
  SetLineRateRequest({LineRateMode::kFastest, 0});
  EXPECT_EQ(Run(), c.expected);
  EXPECT_EQ(chip_.RateSwitches(), 1u);
  EXPECT_FALSE(line_.IsOpen());
  const std::vector<std::string> shown = panel_.Shown();
  ASSERT_GE(shown.size(), 2u);
  char message[64];
  std::snprintf(message, sizeof message, "error Err:%04d", c.expected);
  EXPECT_EQ(shown[shown.size() - 2].rfind(message, 0), 0u) << shown[shown.size() - 2];
  EXPECT_EQ(std::count(shown.begin(), shown.end(), Prompt(kPromptPowerOff)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    StreamFailureTable, FastLineFailure,
    ::testing::Values(
        FailureCase{"CodeDamaged", Fault::kStreamCodeDamaged, 0, kBlockReceiveError},
        FailureCase{"FirstBlockDamaged", Fault::kBlockChecksum, 0, kBlockReceiveError},
        FailureCase{"LastBlockRefused", Fault::kBlockBadParameter, 2, kBlockBadParameter},
        FailureCase{"MiddleBlockFailed", Fault::kBlockProgramFailed, 1, kBlockWriteFailed},
        FailureCase{"LastBlockFailed", Fault::kBlockProgramFailed, 2, kBlockWriteFailed},
        FailureCase{"BlockSilent", Fault::kBlockSilent, 1, kBlockNoReply},
        FailureCase{"CrcWrong", Fault::kCrcWrong, 0, kFlashMismatch},
        FailureCase{"CrcSilent", Fault::kCrcSilent, 0, kBlockNoReply},
        FailureCase{"CrcEndWrong", Fault::kCrcEndWrong, 0, kBlockNoReply}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

// Without the check the stream ends with 0xCE and its lone 0x06.
TEST_F(FastLineWriteTest, WithoutTheCheckTheStreamEndsWithoutTheCrc) {
  PrepareBlocks({0x100, 0x3FF80});
  line_.SetTakesAnyRate(true);
  SetLineRateRequest({LineRateMode::kFastest, 0});
  WriteOptions options;
  options.verify = false;
  ASSERT_EQ(Run(options), kOk);
  EXPECT_TRUE(ChipHoldsTheLoadImage());
  EXPECT_EQ(line_.Sent().back(), 0xCE);
  const std::vector<std::string> shown = panel_.Shown();
  EXPECT_EQ(std::find(shown.begin(), shown.end(), Status(kStatusVerifying)), shown.end());
}

TEST_F(FastLineWriteTest, AnUnreachableRateFailsBeforeAnyBlockAndAFailedSwitchGoesOnAt9600) {
  PrepareBlocks({0x0, 0x80});
  SetLineRateRequest({LineRateMode::kRequested, 115200});
  EXPECT_EQ(Run(), kRateUnreachable);
  EXPECT_EQ(chip_.BlocksReceived(), 0u);
  EXPECT_FALSE(chip_.Received(0xCB));
  EXPECT_FALSE(line_.IsOpen());
  EXPECT_EQ(panel_.Shown().back(), Status(kWriteFailedStatus));

  chip_.PowerOn();
  chip_.SetFault(Fault::kSwitchNoProbe);
  SetLineRateRequest({LineRateMode::kRequested, 57600});
  ASSERT_EQ(Run(), kOk);
  EXPECT_TRUE(ChipHoldsTheLoadImage());
  const std::vector<std::string> shown = panel_.Shown();
  EXPECT_NE(std::find(shown.begin(), shown.end(), Status(kWarningRateSwitchFailed)), shown.end());
  EXPECT_EQ(line_.Settings().baudRate, 9600u);
}

}  // namespace
}  // namespace vantor
