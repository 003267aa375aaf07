#include "link/clock_setup.h"

#include "link/descrambler.h"
#include "link/device_profile.h"
#include "link/serial_link.h"

namespace vantor {
namespace {

constexpr std::uint8_t kClockInquiry = 0xC5;
constexpr std::uint8_t kParameterWrite = 0xCA;
constexpr std::uint8_t kCompletion = 0x80;
constexpr std::uint32_t kBaudRate = 9600;
constexpr std::uint16_t kTableEnd = 0xFFFF;
constexpr unsigned kEntrySize = 8;

std::uint32_t g_reportedClockHz = 0;

// The constants of the value formulas, at their single-precision values.
constexpr double kMicro = static_cast<double>(1e-6f);
constexpr double kPerBaud = static_cast<double>(1.0f / 9600.0f);
constexpr double kTenThousandth = static_cast<double>(0.0001f);
constexpr double kHundredth = static_cast<double>(0.01f);
constexpr double kOne = static_cast<double>(1.0f);
constexpr double kHalf = static_cast<double>(0.5f);
constexpr double kPresetTop = static_cast<double>(255.0f);

// The value bytes of one entry, most significant first.
struct ClockValue {
  std::uint8_t bytes[4] = {};
  unsigned count = 0;
};

// Truncates toward zero and keeps the low 32 bits. The formulas' inputs are
// 16- and 32-bit, so every result fits a 64-bit integer.
std::uint32_t TruncateLow32(double x) {
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(x));
}

// The clock value t = F x (m + 1) x 9600 x 4^(k & 3), every product modulo 2^32.
std::uint32_t ClockHz(std::uint8_t m, std::uint8_t k, std::uint16_t f) {
  std::uint32_t t = f;
  t *= std::uint32_t{m} + 1u;
  t *= kBaudRate;
  t *= std::uint32_t{1} << (2u * (k & 3u));
  return t;
}

// Kinds 0-2: wait-loop counts for G microseconds.
std::uint32_t LoopCount(std::uint16_t g, std::uint32_t t) {
  double x = static_cast<double>(g) * static_cast<double>(t);
  x = x * kMicro;
  x = x / static_cast<double>(kDeviceProfile.clockDivisor);
  x = x - kOne;
  x = x + kHalf;
  const std::uint32_t h = TruncateLow32(x);
  return h == 0 ? 1 : h;
}

// Kinds 16-18: loop counts for one bit time of the link.
std::uint32_t BitTimeCount(std::uint32_t t) {
  double x = static_cast<double>(t) / static_cast<double>(kDeviceProfile.clockDivisor);
  x = x * kPerBaud;
  x = x + kHalf;
  const std::uint32_t h = TruncateLow32(x);
  return h == 0 ? 1 : h;
}

// Kind 32: a counter preset; 255 and above (every negative result too, read
// unsigned) become 254.
std::uint32_t CounterPreset(std::uint16_t g, std::uint32_t t) {
  double x = static_cast<double>(t) * kTenThousandth;
  x = x * static_cast<double>(g);
  x = x * kHundredth;
  x = x / static_cast<double>(kDeviceProfile.presetDivisor);
  x = kPresetTop - x;
  x = x + kHalf;
  const std::uint32_t h = TruncateLow32(x);
  return h >= 255 ? 254 : h;
}

// Higher value bytes carry only their low four bits; the lowest goes whole.
ClockValue Split(std::uint32_t h, unsigned count) {
  ClockValue value;
  value.count = count;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned shift = 8 * (count - 1 - i);
    const std::uint32_t mask = i + 1 == count ? 0xFFu : 0x0Fu;
    value.bytes[i] = static_cast<std::uint8_t>((h >> shift) & mask);
  }
  return value;
}

// The value of a listed kind; any other kind leaves `value` as it was.
void ComputeValue(std::uint16_t kind, std::uint16_t g, std::uint32_t t, ClockValue& value) {
  switch (kind) {
    case 0:
      value = Split(LoopCount(g, t), 1);
      return;
    case 1:
      value = Split(LoopCount(g, t), 2);
      return;
    case 2:
      value = Split(LoopCount(g, t), 4);
      return;
    case 16:
      value = Split(BitTimeCount(t), 1);
      return;
    case 17:
      value = Split(BitTimeCount(t), 2);
      return;
    case 18:
      value = Split(BitTimeCount(t), 4);
      return;
    case 32:
      value = Split(CounterPreset(g, t), 1);
      return;
    default:
      return;
  }
}

// Asks for the clock and computes t. 302 when a reply byte does not come
// within 1000 reads (no pause between them), 303 without the final 0x80.
ErrorCode InquireClock(std::uint32_t& t) {
  if (const ErrorCode code = SendByte(kClockInquiry); code != kOk) return code;
  std::uint8_t reply[5] = {};
  for (std::uint8_t& byte : reply) {
    bool received = false;
    for (unsigned i = 0; i < kClockReplyReadLimit && !received; ++i) {
      received = ReceiveByte(byte) == kOk;
    }
    if (!received) return kNoCompletion;
  }
  if (reply[4] != kCompletion) return kCommandFailed;
  const auto f = static_cast<std::uint16_t>((reply[2] << 8) | reply[3]);
  t = ClockHz(reply[0], reply[1], f);
  g_reportedClockHz = t;
  return kOk;
}

// One 0xCA command per value byte; the fifth byte runs d3, d3 + 1, ...
// modulo 256 without a carry into d2.
ErrorCode WriteValue(const std::uint8_t (&destination)[4], const ClockValue& value) {
  for (unsigned i = 0; i < value.count; ++i) {
    const std::uint8_t command[6] = {kParameterWrite,
                                     destination[0],
                                     destination[1],
                                     destination[2],
                                     static_cast<std::uint8_t>(destination[3] + i),
                                     value.bytes[i]};
    for (const std::uint8_t byte : command) {
      if (const ErrorCode code = SendByte(byte); code != kOk) return code;
    }
  }
  return kOk;
}

}  // namespace

std::uint32_t ReportedClockHz() {
  return g_reportedClockHz;
}

ErrorCode SetupClockParametersFrom(const std::uint8_t* scrambledTable) {
  g_reportedClockHz = 0;
  std::uint32_t t = 0;
  if (const ErrorCode code = InquireClock(t); code != kOk) return code;

  // Each table byte is descrambled once, in table order.
  ResetDescrambler();
  ClockValue last;  // count 0 until a listed kind computes a value
  for (unsigned entry = 0; entry < kClockTableEntries; ++entry) {
    const std::uint8_t* const stored = scrambledTable + entry * kEntrySize;
    const std::uint8_t kindHigh = DescrambleByte(stored[0]);
    const std::uint8_t kindLow = DescrambleByte(stored[1]);
    const auto kind = static_cast<std::uint16_t>((kindHigh << 8) | kindLow);
    if (kind == kTableEnd) return kOk;

    const std::uint8_t gHigh = DescrambleByte(stored[2]);
    const std::uint8_t gLow = DescrambleByte(stored[3]);
    const auto g = static_cast<std::uint16_t>((gHigh << 8) | gLow);
    std::uint8_t destination[4];
    for (unsigned i = 0; i < 4; ++i) destination[i] = DescrambleByte(stored[4 + i]);

    // A kind that computes nothing sends the last computed value again, with
    // its own destination; before the first computation there is none.
    ComputeValue(kind, g, t, last);
    if (const ErrorCode code = WriteValue(destination, last); code != kOk) return code;
  }
  return kOk;
}

ErrorCode SetupClockParameters() {
  return SetupClockParametersFrom(kDeviceProfile.embeddedData);
}

static_assert(kClockTableEntries * kEntrySize == kClockTableSize, "64 entries of 8 bytes");

}  // namespace vantor
