// Boot-mode entry, the program transfer and the erase wait, against a
// chip player on the fake line.
#include "link/boot_mode.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/descrambler.h"
#include "link/device_profile.h"
#include "tests/support/chip_on_fake_line.h"

namespace vantor {
namespace {

using namespace vantor::testing;

constexpr unsigned kProgramLength = 932;

// Echoes every byte, except that the byte sent as number `wrongAt` comes back
// changed and nothing comes back from number `silentFrom` on.
void EchoScript(FakeTransport& line, std::size_t wrongAt = ~std::size_t{0},
                std::size_t silentFrom = ~std::size_t{0}) {
  line.SetScript(
      [wrongAt, silentFrom, n = std::size_t{0}](std::uint8_t sent, FakeTransport& far) mutable {
        const std::size_t index = n++;
        if (index >= silentFrom) return;
        far.Queue(index == wrongAt ? static_cast<std::uint8_t>(sent ^ 0x01) : sent);
      });
}

TEST(BootMode, WholeExchangeWithAChipThatAnswersAtOnce) {
  ChipOnFakeLine s;

  ASSERT_EQ(StartBootMode(), kOk);
  EXPECT_EQ(s.line.Sent(), (Bytes{0x00, 0x55, 0x03, 0xA4}));  // one 0x00 only
  EXPECT_EQ(s.chip.AnnouncedLength(), kProgramLength);

  // The counter is left somewhere else first: the transfer resets it.
  DescrambleByte(0x00);
  ASSERT_EQ(TransferWriteControlProgram(), kOk);
  const Bytes program = s.chip.Program();
  ASSERT_EQ(program.size(), kProgramLength);
  for (std::uint32_t j = 0; j < kProgramLength; ++j) {
    ASSERT_EQ(ScrambleByte(program[j], j), kDeviceProfile.embeddedData[512 + j]) << j;
  }
  EXPECT_EQ(WaitEraseComplete(), kOk);
  EXPECT_TRUE(s.chip.ProtocolError().empty()) << s.chip.ProtocolError();
  EXPECT_EQ(s.line.Sleeps(), 0u);  // no pause anywhere in boot mode
}

TEST(BootMode, BitRateAdjustment) {
  {  // answered on the fifth attempt: five 0x00 bytes, no pause between them
    ChipPlayer::Options options;
    options.bitRateSilentAttempts = 4;
    ChipOnFakeLine s(options);
    EXPECT_EQ(StartBootMode(), kOk);
    EXPECT_EQ(s.chip.BitRateBytes(), 5u);
    EXPECT_EQ(s.line.Misses(), 1u + 4u + 1u);  // drain, four attempts, drain
  }
  {  // never answered: 1000 attempts, then 40
    OpenedFakeLine line;
    EXPECT_EQ(StartBootMode(), kBitRateNoAnswer);
    EXPECT_EQ(line.Sent(), Bytes(1000, 0x00));
    EXPECT_EQ(line.Reads(), 1u + 1000u);
    EXPECT_EQ(line.Now(), 10u * 1001u);
  }
  {  // a wrong first answer ends it at once, though 0x00 would follow
    OpenedFakeLine line;
    line.ReplyAfterSend(0, {0x3F});
    line.ReplyAfterSend(1, {0x00});
    EXPECT_EQ(StartBootMode(), kBitRateWrongAnswer);
    EXPECT_EQ(line.Sent(), Bytes{0x00});
  }
  {  // a read error only counts as nothing received
    OpenedFakeLine line;
    line.FailReadsFrom(0);
    EXPECT_EQ(StartBootMode(), kBitRateNoAnswer);
  }
}

TEST(BootMode, StaleBytesBeforeTheHandshakeAreDrained) {
  ChipOnFakeLine s;
  s.line.ReplyAfterSend(0, {0x12, 0xAA, 0x34});  // after the chip's 0x00
  s.line.Queue({0x99, 0x98});                    // left over from before
  EXPECT_EQ(StartBootMode(), kOk);
  EXPECT_EQ(s.line.Sent(), (Bytes{0x00, 0x55, 0x03, 0xA4}));
  EXPECT_EQ(s.line.Pending(), 0u);
}

TEST(BootMode, EchoWaitAcceptsTheThousandthReadAndNoLater) {
  {
    OpenedFakeLine line;
    line.ReplyAfterSend(0, {0x00});
    line.ReplyAfterSend(1, {0xAA}, /*silentReads=*/999);
    line.ReplyAfterSend(2, {0x03});
    line.ReplyAfterSend(3, {0xA4});
    EXPECT_EQ(StartBootMode(), kOk);
  }
  {
    OpenedFakeLine line;
    line.ReplyAfterSend(0, {0x00});
    line.ReplyAfterSend(1, {0xAA}, /*silentReads=*/1000);
    EXPECT_EQ(StartBootMode(), kHandshakeNoAnswer);
    EXPECT_EQ(line.Now(), 10u + 10u + 1000u * 10u);  // two drains, the echo wait
    EXPECT_EQ(line.Sent().size(), 2u);
  }
}

TEST(BootMode, EachStepHasItsOwnCodes) {
  struct Case {
    std::vector<std::pair<std::size_t, Bytes>> replies;
    ErrorCode expected;
    std::size_t sent;
  };
  const Case cases[] = {
      {{{0, {0x00}}}, kHandshakeNoAnswer, 2},
      {{{0, {0x00}}, {1, {0x55}}}, kHandshakeWrongAnswer, 2},
      {{{0, {0x00}}, {1, {0xAA}}}, kLengthHighNoEcho, 3},
      {{{0, {0x00}}, {1, {0xAA}}, {2, {0x04}}}, kLengthHighWrongEcho, 3},
      {{{0, {0x00}}, {1, {0xAA}}, {2, {0x03}}}, kLengthLowNoEcho, 4},
      {{{0, {0x00}}, {1, {0xAA}}, {2, {0x03}}, {3, {0xA5}}}, kLengthLowWrongEcho, 4},
      {{{0, {0x00}}, {1, {0xAA}}, {2, {0x03}}, {3, {0xA4}}}, kOk, 4},
  };
  for (const Case& c : cases) {
    OpenedFakeLine line;
    for (const auto& [index, bytes] : c.replies) line.ReplyAfterSend(index, bytes);
    EXPECT_EQ(StartBootMode(), c.expected);
    EXPECT_EQ(line.Sent().size(), c.sent) << c.expected;
  }
}

TEST(BootMode, SendFailureEndsTheStepWithoutARead) {
  // Reads made before each send: drain (1), bit-rate (1), drain (1), echoes.
  const std::size_t readsBefore[] = {1, 3, 4, 5};
  for (std::size_t attempt = 0; attempt < 4; ++attempt) {
    const ErrorCode code = attempt % 2 == 0 ? kWriteFailed : kWriteTimeout;
    ChipOnFakeLine s;
    s.line.FailSend(attempt, code);
    EXPECT_EQ(StartBootMode(), code) << attempt;
    EXPECT_EQ(s.line.Reads(), readsBefore[attempt]) << attempt;
    EXPECT_EQ(s.line.Sent().size(), attempt);
  }
}

TEST(ProgramTransfer, WrongEchoOfTheFiveHundredthByteStopsIt) {
  OpenedFakeLine line;
  EchoScript(line, /*wrongAt=*/499);
  EXPECT_EQ(TransferWriteControlProgram(), kProgramWrongEcho);
  EXPECT_EQ(line.Sent().size(), 500u);
  EXPECT_EQ(line.Reads(), 500u);
}

TEST(ProgramTransfer, MissingEchoGivesUpAfterAThousandReads) {
  OpenedFakeLine line;
  EchoScript(line, ~std::size_t{0}, /*silentFrom=*/10);
  EXPECT_EQ(TransferWriteControlProgram(), kProgramNoEcho);
  EXPECT_EQ(line.Sent().size(), 11u);
  EXPECT_EQ(line.Now(), 1000u * 10u);
  EXPECT_EQ(line.Sleeps(), 0u);
}

TEST(ProgramTransfer, ReadErrorsCountAsNoEcho) {
  OpenedFakeLine line;
  EchoScript(line);
  line.FailReadsFrom(20);
  EXPECT_EQ(TransferWriteControlProgram(), kProgramNoEcho);
  EXPECT_EQ(line.Sent().size(), 21u);
}

TEST(ProgramTransfer, SendFailureIsReturnedWithoutARead) {
  OpenedFakeLine line;
  EchoScript(line);
  line.FailSend(100, kWriteTimeout);
  EXPECT_EQ(TransferWriteControlProgram(), kWriteTimeout);
  EXPECT_EQ(line.Sent().size(), 100u);
  EXPECT_EQ(line.Reads(), 100u);
}

TEST(EraseWait, WaitsUpToThirtyThousandReads) {
  {
    OpenedFakeLine line;
    line.Queue(0xAA, /*silentReads=*/29999);
    EXPECT_EQ(WaitEraseComplete(), kOk);
    EXPECT_EQ(line.Reads(), 30000u);
  }
  {
    OpenedFakeLine line;
    line.Queue(0xAA, /*silentReads=*/30000);
    EXPECT_EQ(WaitEraseComplete(), kEraseNoSignal);
    EXPECT_EQ(line.Reads(), 30000u);
    EXPECT_EQ(line.Now(), 300000u);  // five minutes of virtual time
    EXPECT_EQ(line.Sleeps(), 0u);
  }
  {
    OpenedFakeLine line;
    line.Queue(0x55, 100);
    EXPECT_EQ(WaitEraseComplete(), kEraseWrongSignal);
  }
}

}  // namespace
}  // namespace vantor
