// The SCI channel: flag protocol, timing of a byte, overrun and framing.
#include "board/sci.h"

#include <gtest/gtest.h>

#include "board/h8s2215_device.h"

namespace vantor::board {
namespace {

namespace d = device;

// 19.968 MHz with BRR 64, CKS 0: 2080 states a bit, 9600 bit/s.
constexpr double kBit = 2080.0;

Sci ReadyChannel() {
  Sci sci;
  sci.Write(d::kSciSmr, 0, 0);
  sci.Write(d::kSciBrr, 64, 0);
  sci.Write(d::kSciScr, d::kScrTe | d::kScrRe, 0);
  return sci;
}

TEST(SciTest, ResetStateAndBitTimeFollowBrrAndClockSelect) {
  Sci sci;
  EXPECT_EQ(sci.Read(d::kSciSsr, 0), d::kSsrTdre | d::kSsrTend);
  EXPECT_EQ(sci.Read(d::kSciBrr, 0), 0xFF);
  sci.Write(d::kSciBrr, 64, 0);
  EXPECT_DOUBLE_EQ(sci.BitStates(), 2080.0);
  sci.Write(d::kSciSmr, 2, 0);  // phi/16
  EXPECT_DOUBLE_EQ(sci.BitStates(), 2080.0 * 16);
}

TEST(SciTest, TransmitTakesTenBitTimesAndSetsTendAtTheEnd) {
  Sci sci = ReadyChannel();
  sci.Write(d::kSciTdr, 0x5A, 100);
  ASSERT_TRUE(sci.Read(d::kSciSsr, 100) & d::kSsrTdre);
  sci.Write(d::kSciSsr, static_cast<std::uint8_t>(~d::kSsrTdre), 100);
  // The byte moved to the shift register at once: TDRE is 1 again, TEND 0.
  EXPECT_EQ(sci.Read(d::kSciSsr, 101) & (d::kSsrTdre | d::kSsrTend), d::kSsrTdre);
  Sci::Sent sent{};
  sci.AdvanceTo(100 + 20799);
  EXPECT_FALSE(sci.TakeSent(sent));
  sci.AdvanceTo(100 + 20800);
  ASSERT_TRUE(sci.TakeSent(sent));
  EXPECT_EQ(sent.byte, 0x5A);
  EXPECT_EQ(sent.at, 100u + 20800u);
  EXPECT_TRUE(sci.Read(d::kSciSsr, 100 + 20800) & d::kSsrTend);
}

TEST(SciTest, BackToBackBytesFollowEachOtherWithoutGap) {
  Sci sci = ReadyChannel();
  for (std::uint8_t byte : {0x11, 0x22}) {
    while (!(sci.Read(d::kSciSsr, 0) & d::kSsrTdre)) {
    }
    sci.Write(d::kSciTdr, byte, 0);
    sci.Write(d::kSciSsr, static_cast<std::uint8_t>(~d::kSsrTdre), 0);
  }
  sci.AdvanceTo(41600);
  Sci::Sent first{}, second{};
  ASSERT_TRUE(sci.TakeSent(first));
  ASSERT_TRUE(sci.TakeSent(second));
  EXPECT_EQ(first.at, 20800u);
  EXPECT_EQ(second.byte, 0x22);
  EXPECT_EQ(second.at, 41600u);
}

TEST(SciTest, FlagClearsOnlyAfterItWasReadAsOne) {
  Sci sci = ReadyChannel();
  sci.LineByteArrived(0x42, kBit, 10);
  // Writing 0 without having read the flag as 1 leaves it set.
  sci.Write(d::kSciSsr, static_cast<std::uint8_t>(~d::kSsrRdrf), 11);
  EXPECT_TRUE(sci.Read(d::kSciSsr, 12) & d::kSsrRdrf);
  EXPECT_EQ(sci.Read(d::kSciRdr, 12), 0x42);
  // Writing 1 leaves it too; writing 0 after the read clears it.
  sci.Write(d::kSciSsr, 0xFF, 13);
  EXPECT_TRUE(sci.Read(d::kSciSsr, 14) & d::kSsrRdrf);
  sci.Write(d::kSciSsr, static_cast<std::uint8_t>(~d::kSsrRdrf), 15);
  EXPECT_FALSE(sci.Read(d::kSciSsr, 16) & d::kSsrRdrf);
  // TEND is read-only: writing 0 to it (and 1 to TDRE) leaves it set.
  sci.Write(d::kSciSsr, d::kSsrTdre, 17);
  EXPECT_TRUE(sci.Read(d::kSciSsr, 18) & d::kSsrTend);
}

TEST(SciTest, ByteArrivingWhileRdrfIsSetIsAnOverrunAndLost) {
  Sci sci = ReadyChannel();
  sci.LineByteArrived(0x01, kBit, 10);
  sci.LineByteArrived(0x02, kBit, 20810);
  const std::uint8_t ssr = sci.Read(d::kSciSsr, 20811);
  EXPECT_TRUE(ssr & d::kSsrOrer);
  EXPECT_EQ(sci.Read(d::kSciRdr, 20811), 0x01);
  EXPECT_EQ(sci.OverrunCount(), 1u);
  // While ORER is set nothing more is received, even with RDRF cleared.
  sci.Write(d::kSciSsr, static_cast<std::uint8_t>(~d::kSsrRdrf), 20812);
  sci.LineByteArrived(0x03, kBit, 41610);
  EXPECT_FALSE(sci.Read(d::kSciSsr, 41611) & d::kSsrRdrf);
  sci.Write(d::kSciSsr, static_cast<std::uint8_t>(~d::kSsrOrer), 41612);
  sci.LineByteArrived(0x04, kBit, 62410);
  EXPECT_TRUE(sci.Read(d::kSciSsr, 62411) & d::kSsrRdrf);
  EXPECT_EQ(sci.Read(d::kSciRdr, 62411), 0x04);
}

TEST(SciTest, ReceiverOffOrWrongRateLosesTheByte) {
  Sci off;
  off.LineByteArrived(0x55, kBit, 10);
  EXPECT_EQ(off.Read(d::kSciSsr, 11) & (d::kSsrRdrf | d::kSsrOrer), 0);

  // A sender at half the rate: the receiver samples a low stop bit.
  Sci sci = ReadyChannel();
  sci.LineByteArrived(0x00, kBit * 2, 10);
  EXPECT_TRUE(sci.Read(d::kSciSsr, 11) & d::kSsrFer);
  EXPECT_EQ(sci.FramingErrorCount(), 1u);

  // A 3 % difference still samples every bit right.
  bool framing = true;
  EXPECT_EQ(SampleFrame(0xA7, kBit * 1.03, kBit, framing), 0xA7);
  EXPECT_FALSE(framing);
  EXPECT_NE(SampleFrame(0xA7, kBit * 1.12, kBit, framing), 0xA7);
}

// The reception margin decides: up to 4.93 % apart every byte arrives as
// sent; beyond it each one is a framing error and never the byte sent, at
// either end and whichever end is faster.
TEST(SciTest, RatesBeyondTheReceptionMarginGarbleEveryByteWithAFramingError) {
  EXPECT_NEAR(kReceiveRateTolerance, 0.0493, 0.0001);
  for (const double ratio : {1.0, 1.02, 0.98, 1.049, 0.951}) {
    for (unsigned value = 0; value < 256; ++value) {
      bool framing = true;
      ASSERT_EQ(ReceiveFrame(static_cast<std::uint8_t>(value), kBit * ratio, kBit, framing), value)
          << ratio;
      ASSERT_FALSE(framing);
    }
  }
  for (const double ratio : {1.051, 0.949, 1.3, 0.5, 2.0}) {
    for (unsigned value = 0; value < 256; ++value) {
      bool framing = false;
      ASSERT_NE(ReceiveFrame(static_cast<std::uint8_t>(value), kBit * ratio, kBit, framing), value)
          << ratio;
      ASSERT_TRUE(framing);
    }
  }
  // The channel: a byte 6 % off sets FER, not RDRF.
  Sci sci = ReadyChannel();
  sci.LineByteArrived(0x55, kBit * 1.06, 10);
  const std::uint8_t ssr = sci.Read(d::kSciSsr, 11);
  EXPECT_TRUE(ssr & d::kSsrFer);
  EXPECT_FALSE(ssr & d::kSsrRdrf);
  EXPECT_NE(sci.Read(d::kSciRdr, 12), 0x55);
}

}  // namespace
}  // namespace vantor::board
