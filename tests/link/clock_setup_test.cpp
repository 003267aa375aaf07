// The clock inquiry and the table walk, with small scrambled tables.
#include "link/clock_setup.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/descrambler.h"
#include "tests/support/chip_on_fake_line.h"

namespace vantor {
namespace {

using namespace vantor::testing;
using Write = ChipPlayer::ParameterWrite;
using Writes = std::vector<Write>;

struct Entry {
  std::uint16_t kind;
  std::uint16_t g;
  std::uint8_t d[4];
};

// A 512-byte table, scrambled as the embedded data is. Bytes after the
// entries are 0xFF, so an end marker follows unless all 64 are given.
Bytes Table(const std::vector<Entry>& entries) {
  Bytes plain(512, 0xFF);
  std::size_t j = 0;
  for (const Entry& e : entries) {
    const std::uint8_t bytes[8] = {static_cast<std::uint8_t>(e.kind >> 8),
                                   static_cast<std::uint8_t>(e.kind),
                                   static_cast<std::uint8_t>(e.g >> 8),
                                   static_cast<std::uint8_t>(e.g),
                                   e.d[0],
                                   e.d[1],
                                   e.d[2],
                                   e.d[3]};
    for (std::uint8_t b : bytes) plain.at(j++) = b;
  }
  Bytes stored(512);
  for (std::uint32_t i = 0; i < 512; ++i) stored[i] = ScrambleByte(plain[i], i);
  return stored;
}

// A chip already running the program, answering 0xC5 with `reply`.
struct ClockRig : ChipOnFakeLine {
  explicit ClockRig(std::initializer_list<std::uint8_t> reply) : ChipOnFakeLine(Options(reply)) {}
  static ChipPlayer::Options Options(std::initializer_list<std::uint8_t> reply) {
    ChipPlayer::Options options;
    options.programRunning = true;
    std::copy(reply.begin(), reply.end(), options.clockReply);
    return options;
  }
  ErrorCode Run(const std::vector<Entry>& entries) {
    const Bytes table = Table(entries);
    return SetupClockParametersFrom(table.data());
  }
};

// m = 64, k = 0, F = 32: t = 19,968,000 Hz.
constexpr std::initializer_list<std::uint8_t> kWorkedReply = {64, 0, 0x00, 32, 0x80};

TEST(ClockSetup, WorkedValues) {
  ClockRig s(kWorkedReply);
  ASSERT_EQ(s.Run({
                {0, 10, {0x00, 0xFF, 0xE8, 0x00}},
                {1, 100, {0x00, 0xFF, 0xE8, 0x10}},
                {1, 1000, {0x00, 0xFF, 0xE8, 0x20}},
                {2, 1000, {0x00, 0xFF, 0xE8, 0x30}},
                {16, 1234, {0x00, 0xFF, 0xE8, 0x40}},
                {17, 0, {0x00, 0xFF, 0xE8, 0x50}},
                {18, 7, {0x00, 0xFF, 0xE8, 0x60}},
                {32, 100, {0x00, 0xFF, 0xE8, 0x70}},
                {32, 1, {0x00, 0xFF, 0xE8, 0x80}},
                {32, 10000, {0x00, 0xFF, 0xE8, 0x90}},
            }),
            kOk);
  const Writes expected = {
      {0x00, 0xFF, 0xE8, 0x00, 0x42},                                  // 66
      {0x00, 0xFF, 0xE8, 0x10, 0x02}, {0x00, 0xFF, 0xE8, 0x11, 0x99},  // 665
      {0x00, 0xFF, 0xE8, 0x20, 0x09}, {0x00, 0xFF, 0xE8, 0x21, 0xFF},  // 6655
      {0x00, 0xFF, 0xE8, 0x30, 0x00}, {0x00, 0xFF, 0xE8, 0x31, 0x00},
      {0x00, 0xFF, 0xE8, 0x32, 0x09}, {0x00, 0xFF, 0xE8, 0x33, 0xFF},  // 6655
      {0x00, 0xFF, 0xE8, 0x40, 0xB5},                                  // 693
      {0x00, 0xFF, 0xE8, 0x50, 0x02}, {0x00, 0xFF, 0xE8, 0x51, 0xB5},  // 693
      {0x00, 0xFF, 0xE8, 0x60, 0x00}, {0x00, 0xFF, 0xE8, 0x61, 0x00},
      {0x00, 0xFF, 0xE8, 0x62, 0x02}, {0x00, 0xFF, 0xE8, 0x63, 0xB5},  // 693
      {0x00, 0xFF, 0xE8, 0x70, 0xFB},                                  // 251
      {0x00, 0xFF, 0xE8, 0x80, 0xFE},                                  // 255 -> 254
      {0x00, 0xFF, 0xE8, 0x90, 0xFE},                                  // -134 -> 254
  };
  EXPECT_EQ(s.chip.ParameterWrites(), expected);
  EXPECT_TRUE(s.chip.ProtocolError().empty()) << s.chip.ProtocolError();
  EXPECT_EQ(s.line.Sent().size(), 1u + 6u * expected.size());
}

TEST(ClockSetup, FifthCommandByteRunsWithoutCarry) {
  ClockRig s(kWorkedReply);
  ASSERT_EQ(s.Run({{2, 1000, {0x00, 0x00, 0xFF, 0xFE}}}), kOk);
  const Writes expected = {{0x00, 0x00, 0xFF, 0xFE, 0x00},
                           {0x00, 0x00, 0xFF, 0xFF, 0x00},
                           {0x00, 0x00, 0xFF, 0x00, 0x09},
                           {0x00, 0x00, 0xFF, 0x01, 0xFF}};
  EXPECT_EQ(s.chip.ParameterWrites(), expected);
}

TEST(ClockSetup, ClockFigures) {
  const std::vector<Entry> bitTime = {{16, 0, {1, 2, 3, 4}}, {17, 0, {1, 2, 3, 8}}};
  {  // k = 3: factor 64, t = 614,400; H = 21
    ClockRig s({0, 3, 0x00, 1, 0x80});
    ASSERT_EQ(s.Run(bitTime), kOk);
    EXPECT_EQ(s.chip.ParameterWrites(),
              (Writes{{1, 2, 3, 4, 0x15}, {1, 2, 3, 8, 0x00}, {1, 2, 3, 9, 0x15}}));
  }
  {  // k = 7 counts as k = 3
    ClockRig s({0, 7, 0x00, 1, 0x80});
    ASSERT_EQ(s.Run(bitTime), kOk);
    EXPECT_EQ(s.chip.ParameterWrites(),
              (Writes{{1, 2, 3, 4, 0x15}, {1, 2, 3, 8, 0x00}, {1, 2, 3, 9, 0x15}}));
  }
  {  // m = 255 (factor 256), F = 256, k = 3: 40,265,318,400 wraps to
     // t = 1,610,612,736; H = 55,924 (0xDA74)
    ClockRig s({255, 3, 0x01, 0x00, 0x80});
    ASSERT_EQ(s.Run(bitTime), kOk);
    EXPECT_EQ(s.chip.ParameterWrites(),
              (Writes{{1, 2, 3, 4, 0x74}, {1, 2, 3, 8, 0x0A}, {1, 2, 3, 9, 0x74}}));
  }
}

TEST(ClockSetup, ZeroClockGivesOneAndTheTopPreset) {
  ClockRig s({64, 2, 0x00, 0x00, 0x80});  // F = 0: t = 0
  ASSERT_EQ(s.Run({{0, 500, {0, 0, 0, 0x00}},
                   {1, 500, {0, 0, 0, 0x10}},
                   {2, 500, {0, 0, 0, 0x20}},
                   {16, 0, {0, 0, 0, 0x30}},
                   {17, 0, {0, 0, 0, 0x40}},
                   {18, 0, {0, 0, 0, 0x50}},
                   {32, 500, {0, 0, 0, 0x60}}}),
            kOk);
  const Writes expected = {
      {0, 0, 0, 0x00, 1}, {0, 0, 0, 0x10, 0}, {0, 0, 0, 0x11, 1},   {0, 0, 0, 0x20, 0},
      {0, 0, 0, 0x21, 0}, {0, 0, 0, 0x22, 0}, {0, 0, 0, 0x23, 1},   {0, 0, 0, 0x30, 1},
      {0, 0, 0, 0x40, 0}, {0, 0, 0, 0x41, 1}, {0, 0, 0, 0x50, 0},   {0, 0, 0, 0x51, 0},
      {0, 0, 0, 0x52, 0}, {0, 0, 0, 0x53, 1}, {0, 0, 0, 0x60, 254},
  };
  EXPECT_EQ(s.chip.ParameterWrites(), expected);
}

TEST(ClockSetup, ConstantsAreTakenAtSinglePrecision) {
  // With the constants in double precision these would come out one higher.
  {  // t = 470,016,000, G = 65535: H = 10,267,498 (0x9CAB6A)
    ClockRig s({2, 3, 0x00, 0xFF, 0x80});
    ASSERT_EQ(s.Run({{2, 65535, {9, 9, 9, 0}}}), kOk);
    EXPECT_EQ(
        s.chip.ParameterWrites(),
        (Writes{{9, 9, 9, 0, 0x00}, {9, 9, 9, 1, 0x0C}, {9, 9, 9, 2, 0x0B}, {9, 9, 9, 3, 0x6A}}));
  }
  {  // t wraps to 3,076,343,936: H = 106,818 (0x1A142)
    ClockRig s({236, 0, 0xFF, 0xFF, 0x80});
    ASSERT_EQ(s.Run({{18, 0, {9, 9, 9, 0}}}), kOk);
    EXPECT_EQ(
        s.chip.ParameterWrites(),
        (Writes{{9, 9, 9, 0, 0x00}, {9, 9, 9, 1, 0x01}, {9, 9, 9, 2, 0x01}, {9, 9, 9, 3, 0x42}}));
  }
}

TEST(ClockSetup, InquiryFailures) {
  {  // a fifth byte other than 0x80: nothing of the table goes out
    ClockRig s({64, 0, 0x00, 32, 0x00});
    EXPECT_EQ(s.Run({{0, 10, {0, 0, 0, 0}}}), kCommandFailed);
    EXPECT_EQ(s.line.Sent(), Bytes{0xC5});
  }
  {  // the fourth byte never comes: 1000 reads without a pause
    OpenedFakeLine line;
    line.ReplyAfterSend(0, {64, 0, 0x00});
    const Bytes table = Table({{0, 10, {0, 0, 0, 0}}});
    EXPECT_EQ(SetupClockParametersFrom(table.data()), kNoCompletion);
    EXPECT_EQ(line.Sent(), Bytes{0xC5});
    EXPECT_EQ(line.Reads(), 3u + 1000u);
    EXPECT_EQ(line.Sleeps(), 0u);
    EXPECT_EQ(line.Now(), 10000u);
  }
  {  // the last byte on the 1000th read is still taken
    OpenedFakeLine line;
    line.SetScript([](std::uint8_t, FakeTransport& far) {
      far.Queue({64, 0, 0x00, 32});
      far.Queue(0x80, 999);
    });
    const Bytes table = Table({});
    EXPECT_EQ(SetupClockParametersFrom(table.data()), kOk);
  }
  {  // the inquiry not sent: no read
    OpenedFakeLine line;
    line.FailSend(0, kWriteTimeout);
    const Bytes table = Table({});
    EXPECT_EQ(SetupClockParametersFrom(table.data()), kWriteTimeout);
    EXPECT_EQ(line.Reads(), 0u);
  }
}

TEST(ClockSetup, TableEndingAtOnceSendsOnlyTheInquiry) {
  ClockRig s(kWorkedReply);
  EXPECT_EQ(s.Run({}), kOk);
  EXPECT_EQ(s.line.Sent(), Bytes{0xC5});
  // Only the kind of the end marker was descrambled: the counter stands two
  // bytes past its start.
  EXPECT_EQ(DescrambleByte(ScrambleByte(0x42, 2)), 0x42);
}

TEST(ClockSetup, SixtyFourEntriesWithoutEndMarker) {
  std::vector<Entry> entries;
  for (std::uint8_t i = 0; i < 64; ++i) entries.push_back({0, 10, {0x10, 0x20, 0x30, i}});
  ClockRig s(kWorkedReply);
  EXPECT_EQ(s.Run(entries), kOk);  // a 512-byte buffer: a read beyond it trips ASan
  ASSERT_EQ(s.chip.ParameterWrites().size(), 64u);
  EXPECT_EQ(s.chip.ParameterWrites()[63], (Write{0x10, 0x20, 0x30, 63, 0x42}));
  EXPECT_EQ(DescrambleByte(ScrambleByte(0x42, 512)), 0x42);  // every byte once
}

TEST(ClockSetup, UnknownKinds) {
  {  // first in the table: nothing to send yet
    ClockRig s(kWorkedReply);
    ASSERT_EQ(s.Run({{5, 10, {1, 1, 1, 1}}, {0, 10, {2, 2, 2, 2}}}), kOk);
    EXPECT_EQ(s.chip.ParameterWrites(), (Writes{{2, 2, 2, 2, 0x42}}));
  }
  {  // after a kind-1 entry: its two bytes again, at the new destination
    ClockRig s(kWorkedReply);
    ASSERT_EQ(s.Run({{1, 100, {1, 1, 1, 0x10}}, {0x0100, 7, {2, 2, 2, 0x20}}}), kOk);
    EXPECT_EQ(s.chip.ParameterWrites(), (Writes{{1, 1, 1, 0x10, 0x02},
                                                {1, 1, 1, 0x11, 0x99},
                                                {2, 2, 2, 0x20, 0x02},
                                                {2, 2, 2, 0x21, 0x99}}));
  }
}

TEST(ClockSetup, SendFailureInTheWalkEndsIt) {
  ClockRig s(kWorkedReply);
  s.line.FailSend(1 + 6 + 3, kWriteFailed);  // the d2 of the second command
  EXPECT_EQ(s.Run({{1, 100, {1, 1, 1, 0}}, {0, 10, {2, 2, 2, 0}}}), kWriteFailed);
  EXPECT_EQ(s.line.Sent().size(), 1u + 6u + 3u);
}

TEST(ClockSetup, WalksTheProfileTable) {
  ClockRig s(kWorkedReply);
  EXPECT_EQ(SetupClockParameters(), kOk);
  EXPECT_FALSE(s.chip.ParameterWrites().empty());
  EXPECT_TRUE(s.chip.ProtocolError().empty()) << s.chip.ProtocolError();
}

}  // namespace
}  // namespace vantor
