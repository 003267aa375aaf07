// The serial link's codes, checks and bounds, over the fake line.
#include "link/serial_link.h"

#include <gtest/gtest.h>

#include "tests/support/fake_transport.h"

namespace vantor {
namespace {

using testing::FakeLineGuard;
using testing::FakeTransport;

TEST(SerialLinkDrain, DiscardsStaleBytesAndStopsAtTheFirstQuietRead) {
  FakeTransport line;
  FakeLineGuard guard(line);
  line.Queue({0x11, 0x22, 0x33});
  EXPECT_EQ(DrainReceiveBuffer(), kOk);
  EXPECT_EQ(line.Pending(), 0u);
  EXPECT_EQ(line.Reads(), 4u);
  EXPECT_EQ(line.Now(), 10u);  // one read time-out
}

TEST(SerialLinkDrain, AFailedReadEndsItLikeAQuietLine) {
  FakeTransport line;
  FakeLineGuard guard(line);
  line.Queue({0x11, 0x22, 0x33});
  line.FailRead(1);
  EXPECT_EQ(DrainReceiveBuffer(), kOk);
  EXPECT_EQ(line.Reads(), 2u);
  EXPECT_EQ(line.Pending(), 2u);
}

TEST(SerialLinkDrain, GivesUpAfterThirtyThousandBytesWithoutAPause) {
  FakeTransport line;
  FakeLineGuard guard(line);
  line.FeedEndlessly(0x55);
  EXPECT_EQ(DrainReceiveBuffer(), kDrainOverrun);
  EXPECT_EQ(line.Reads(), 30000u);
}

TEST(SerialLinkDrain, BoundaryOfTheBound) {
  {
    FakeTransport line;
    FakeLineGuard guard(line);
    line.Queue(std::vector<std::uint8_t>(29999, 0xA5));
    EXPECT_EQ(DrainReceiveBuffer(), kOk);  // the 30,000th read is quiet
    EXPECT_EQ(line.Reads(), 30000u);
  }
  {
    FakeTransport line;
    FakeLineGuard guard(line);
    line.Queue(std::vector<std::uint8_t>(30001, 0xA5));
    EXPECT_EQ(DrainReceiveBuffer(), kDrainOverrun);
    EXPECT_EQ(line.Reads(), 30000u);
    EXPECT_EQ(line.Pending(), 1u);
  }
}

TEST(SerialLinkBytes, ReceiveCodes) {
  FakeTransport line;
  FakeLineGuard guard(line);
  std::uint8_t byte = 0;
  EXPECT_EQ(ReceiveByte(byte), kReadTimeout);
  EXPECT_EQ(line.Now(), 10u);
  line.Queue(0x9C);
  line.FailRead(1);
  EXPECT_EQ(ReceiveByte(byte), kReadFailed);
  EXPECT_EQ(ReceiveByte(byte), kOk);
  EXPECT_EQ(byte, 0x9C);
}

TEST(SerialLinkBytes, SendCodesAndTheLowEightBits) {
  FakeTransport line;
  FakeLineGuard guard(line);
  line.FailSend(1, kWriteFailed);
  line.FailSend(2, kWriteTimeout);
  EXPECT_EQ(SendByte(0x1C3), kOk);
  EXPECT_EQ(SendByte(0x01), kWriteFailed);
  EXPECT_EQ(SendByte(0x02), kWriteTimeout);
  EXPECT_EQ(SendByte(0xFFFFFF00u), kOk);
  EXPECT_EQ(line.Sent(), (std::vector<std::uint8_t>{0xC3, 0x00}));
}

TEST(SerialLinkBytes, ClosedLinkFailsSendsAndReadsAndDrainsAtOnce) {
  FakeTransport line;
  FakeLineGuard guard(line, /*open=*/false);
  std::uint8_t byte = 0;
  EXPECT_EQ(SendByte(0x00), kWriteFailed);
  EXPECT_EQ(ReceiveByte(byte), kReadFailed);
  EXPECT_EQ(DrainReceiveBuffer(), kOk);
  EXPECT_EQ(line.Reads(), 0u);  // nothing reached the line
}

TEST(SerialLinkOpen, BadLineSettingsTouchNothing) {
  FakeTransport line;
  FakeLineGuard guard(line, /*open=*/false);
  EXPECT_EQ(OpenPort("fake", 9600, 'x', 8, 1.0f), kBadLineSettings);
  EXPECT_EQ(OpenPort("fake", 9600, 'n', 8, 3.0f), kBadLineSettings);
  EXPECT_EQ(OpenPort("fake", 9600, 'n', 8, 0.0f), kBadLineSettings);
  EXPECT_EQ(line.OpenCount(), 0u);
  EXPECT_FALSE(IsPortOpen());

  // An open link stays open and working.
  ASSERT_EQ(OpenPort("fake", 9600, 'n', 8, 1.0f), kOk);
  EXPECT_EQ(OpenPort("fake", 9600, 'q', 8, 1.0f), kBadLineSettings);
  EXPECT_TRUE(IsPortOpen());
  EXPECT_EQ(SendByte(0x42), kOk);
}

TEST(SerialLinkOpen, ParityAndStopBitCodes) {
  struct Case {
    char parity;
    float stopBits;
    std::uint8_t parityCode;
    std::uint8_t stopCode;
  };
  for (const Case& c : {Case{'N', 1.0f, 0, 0}, Case{'o', 1.5f, 1, 1}, Case{'E', 2.0f, 2, 2},
                        Case{'e', 1.0f, 2, 0}, Case{'M', 1.0f, 3, 0}, Case{'s', 1.0f, 4, 0}}) {
    FakeTransport line;
    FakeLineGuard guard(line, /*open=*/false);
    ASSERT_EQ(OpenPort("COM3", 19200, c.parity, 7, c.stopBits), kOk) << c.parity;
    EXPECT_EQ(line.PortName(), "COM3");
    EXPECT_EQ(line.Settings().baudRate, 19200u);
    EXPECT_EQ(line.Settings().dataBits, 7u);
    EXPECT_EQ(line.Settings().parity, c.parityCode) << c.parity;
    EXPECT_EQ(line.Settings().stopBits, c.stopCode) << c.stopBits;
  }
}

TEST(SerialLinkOpen, SecondOpenIsRefusedAndTheFirstPortKeepsWorking) {
  FakeTransport line;
  FakeLineGuard guard(line);
  ASSERT_EQ(guard.OpenResult(), kOk);
  EXPECT_EQ(OpenPort("other", 9600, 'n', 8, 1.0f), kPortAlreadyOpen);
  EXPECT_EQ(line.OpenCount(), 1u);
  EXPECT_EQ(line.CloseCount(), 0u);
  line.Queue(0x7E);
  std::uint8_t byte = 0;
  EXPECT_EQ(SendByte(0x24), kOk);
  EXPECT_EQ(ReceiveByte(byte), kOk);
  EXPECT_EQ(byte, 0x7E);
}

TEST(SerialLinkOpen, FailedOpenLeavesTheLinkClosedForALaterTry) {
  FakeTransport line;
  FakeLineGuard guard(line, /*open=*/false);
  line.SetOpenResult(kPortOpenFailed);
  EXPECT_EQ(OpenPort("fake", 9600, 'n', 8, 1.0f), kPortOpenFailed);
  EXPECT_FALSE(IsPortOpen());
  line.SetOpenResult(kOk);
  EXPECT_EQ(OpenPort("fake", 9600, 'n', 8, 1.0f), kOk);
  EXPECT_TRUE(IsPortOpen());
}

TEST(SerialLinkOpen, RefusedSettingsLeaveTheLinkOpenUntilClosePort) {
  FakeTransport line;
  FakeLineGuard guard(line, /*open=*/false);
  line.SetOpenResult(kPortSetupFailed);
  EXPECT_EQ(OpenPort("fake", 9600, 'n', 8, 1.0f), kPortSetupFailed);
  EXPECT_TRUE(IsPortOpen());
  EXPECT_EQ(OpenPort("fake", 9600, 'n', 8, 1.0f), kPortAlreadyOpen);
  EXPECT_EQ(ClosePort(), kOk);
  EXPECT_FALSE(IsPortOpen());
  EXPECT_EQ(line.CloseCount(), 1u);
}

TEST(SerialLinkClose, HarmlessWhenClosedAndTwiceInARow) {
  FakeTransport line;
  FakeLineGuard guard(line, /*open=*/false);
  EXPECT_EQ(ClosePort(), kOk);
  ASSERT_EQ(OpenPort("fake", 9600, 'n', 8, 1.0f), kOk);
  EXPECT_EQ(ClosePort(), kOk);
  EXPECT_EQ(ClosePort(), kOk);
  EXPECT_EQ(line.CloseCount(), 1u);
  EXPECT_EQ(OpenPort("fake", 9600, 'n', 8, 1.0f), kOk);  // usable again
}

TEST(SerialLinkPause, GoesThroughTheOpenLine) {
  FakeTransport line;
  FakeLineGuard guard(line);
  SleepMilliseconds(1);
  SleepMilliseconds(1);
  EXPECT_EQ(line.Sleeps(), 2u);
  EXPECT_EQ(line.Now(), 2u);
}

TEST(FakeLine, SilentReadsDelayAByteAndRepliesFollowSends) {
  FakeTransport line;
  FakeLineGuard guard(line);
  line.ReplyAfterSend(1, {0xAB, 0xCD}, /*silentReads=*/2);
  std::uint8_t byte = 0;
  EXPECT_EQ(SendByte(0x01), kOk);
  EXPECT_EQ(ReceiveByte(byte), kReadTimeout);  // nothing after byte 0
  EXPECT_EQ(SendByte(0x02), kOk);
  EXPECT_EQ(ReceiveByte(byte), kReadTimeout);
  EXPECT_EQ(ReceiveByte(byte), kReadTimeout);
  ASSERT_EQ(ReceiveByte(byte), kOk);
  EXPECT_EQ(byte, 0xAB);
  ASSERT_EQ(ReceiveByte(byte), kOk);
  EXPECT_EQ(byte, 0xCD);
  EXPECT_EQ(line.Misses(), 3u);
  EXPECT_EQ(line.Now(), 30u);
}

TEST(FakeLine, ScriptSeesEverySentByte) {
  FakeTransport line;
  FakeLineGuard guard(line);
  line.SetScript([](std::uint8_t sent, FakeTransport& far) {
    far.Queue(static_cast<std::uint8_t>(sent ^ 0xFF));
  });
  std::uint8_t byte = 0;
  ASSERT_EQ(SendByte(0x0F), kOk);
  ASSERT_EQ(ReceiveByte(byte), kOk);
  EXPECT_EQ(byte, 0xF0);
}

}  // namespace
}  // namespace vantor
