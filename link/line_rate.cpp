#include "link/line_rate.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "link/descrambler.h"
#include "link/embedded_data.h"
#include "link/serial_link.h"
#include "link/target_commands.h"

namespace vantor {
namespace {

LineRateRequest g_request;
std::uint32_t g_rate = kBootBaudRate;

// The probe's answer comes at once at any rate the line carries; a chip
// that did not take the probe gives up within about 200 ms, so 20 reads of
// 10 ms wait as long as it does.
constexpr unsigned kProbeAnswerReads = 20;
// The chip's divider 32 x 4^n x (N + 1): four clock selects, 256 values of N.
constexpr unsigned kClockSelects = 4;
constexpr unsigned kBrrValues = 256;

double ChipRate(std::uint32_t clockHz, unsigned n, unsigned brr) {
  return static_cast<double>(clockHz) / (32.0 * static_cast<double>(1u << (2 * n)) * (brr + 1.0));
}

bool WithinTolerance(double chipRate, std::uint32_t rate) {
  return std::fabs(chipRate - rate) * 1000.0 <= static_cast<double>(rate) * kRateTolerancePerMille;
}

// The candidates of the fastest choice, highest first: the standard rates,
// and where the port takes free rates, every rate the chip runs at exactly.
unsigned FastCandidates(std::uint32_t clockHz, bool freeRates, std::uint32_t* out,
                        unsigned capacity) {
  unsigned count = 0;
  for (const std::uint32_t rate : kStandardFastRates) out[count++] = rate;
  if (freeRates) {
    for (unsigned n = 0; n < kClockSelects; ++n) {
      for (unsigned brr = 0; brr < kBrrValues && count < capacity; ++brr) {
        const double exact = ChipRate(clockHz, n, brr);
        if (exact <= kBootBaudRate) break;  // falls with N
        if (exact > kFastestRate) continue;
        out[count++] = static_cast<std::uint32_t>(std::lround(exact));
      }
    }
  }
  std::sort(out, out + count, [](std::uint32_t a, std::uint32_t b) { return a > b; });
  return static_cast<unsigned>(std::unique(out, out + count) - out);
}

// Whether the port takes `rate`; the port is set back to 9600 bit/s either
// way. `back` is 202 when that failed.
bool PortAccepts(std::uint32_t rate, ErrorCode& back) {
  const bool accepted = SetPortBaudRate(rate) == kOk;
  back = SetPortBaudRate(kBootBaudRate);
  return accepted;
}

// After a switch that did not complete: both ends at the boot rate again,
// and the chip shown to answer there.
ErrorCode FallBack() {
  g_rate = kBootBaudRate;
  if (SetPortBaudRate(kBootBaudRate) != kOk) return kPortSetupFailed;
  SleepMilliseconds(kFallBackWaitMs);
  if (const ErrorCode code = DrainReceiveBuffer(); code != kOk) return code;
  const ErrorCode code = CheckTargetId();
  if (code == kOk || code == kWriteFailed || code == kWriteTimeout) return code;
  return kBlockNoReply;
}

}  // namespace

bool ChipSettingFor(std::uint32_t clockHz, std::uint32_t rate, ChipRateSetting& setting) {
  if (clockHz == 0 || rate == 0) return false;
  bool found = false;
  double bestError = 0.0;
  for (unsigned n = 0; n < kClockSelects; ++n) {
    const double divisor = ChipRate(clockHz, n, 0) / rate;  // N + 1, ideally
    for (const double candidate : {std::floor(divisor), std::ceil(divisor)}) {
      if (candidate < 1.0 || candidate > kBrrValues) continue;
      const auto brr = static_cast<unsigned>(candidate) - 1;
      const double chipRate = ChipRate(clockHz, n, brr);
      const double error = std::fabs(chipRate - rate);
      if (!WithinTolerance(chipRate, rate) || (found && error >= bestError)) continue;
      found = true;
      bestError = error;
      setting.brr = static_cast<std::uint8_t>(brr);
      setting.clockSelect = static_cast<std::uint8_t>(n);
      setting.chipRate = chipRate;
    }
  }
  return found;
}

void SetLineRateRequest(const LineRateRequest& request) {
  g_request = request;
}

const LineRateRequest& CurrentLineRateRequest() {
  return g_request;
}

ErrorCode ChooseLineRate(std::uint32_t clockHz, const LineRateRequest& request,
                         LineRatePlan& plan) {
  plan = LineRatePlan{};
  ErrorCode back = kOk;
  switch (request.mode) {
    case LineRateMode::kBoot:
      return kOk;
    case LineRateMode::kRequested: {
      ChipRateSetting setting;
      if (!ChipSettingFor(clockHz, request.rate, setting)) return kRateUnreachable;
      if (request.rate == kBootBaudRate) return kOk;  // already there
      if (!PortAccepts(request.rate, back)) return back != kOk ? back : kRateRefusedByPort;
      if (back != kOk) return back;
      plan.rate = request.rate;
      plan.setting = setting;
      return kOk;
    }
    case LineRateMode::kFastest: {
      std::uint32_t candidates[std::size(kStandardFastRates) + kClockSelects * kBrrValues];
      const unsigned count =
          FastCandidates(clockHz, PortTakesAnyRate(), candidates, std::size(candidates));
      for (unsigned i = 0; i < count; ++i) {
        ChipRateSetting setting;
        if (!ChipSettingFor(clockHz, candidates[i], setting)) continue;
        const bool accepted = PortAccepts(candidates[i], back);
        if (back != kOk) return back;
        if (!accepted) continue;
        plan.rate = candidates[i];
        plan.setting = setting;
        return kOk;
      }
      return kOk;  // nothing faster: the write stays at 9600 bit/s
    }
  }
  return kOk;
}

std::uint8_t MakeRateSwitchUnit(const ChipRateSetting& setting,
                                std::uint8_t (&unit)[kRateSwitchSize]) {
  ResetDescrambler();
  std::uint8_t sum = 0;
  for (std::uint32_t offset = 0; offset < kRateSwitchSize; ++offset) {
    unit[offset] = DescrambleByte(kEmbeddedRateSwitch[offset]);
  }
  unit[kRateSwitchSettingOffset] = setting.clockSelect;
  unit[kRateSwitchSettingOffset + 1] = setting.brr;
  for (const std::uint8_t byte : unit) sum = static_cast<std::uint8_t>(sum + byte);
  return sum;
}

ErrorCode SendUnit(const std::uint8_t (&unit)[kUnitSize]) {
  if (const ErrorCode code = SendByte(kRateSwitchCommand); code != kOk) return code;
  std::uint8_t sum = 0;
  for (const std::uint8_t byte : unit) {
    if (const ErrorCode code = SendByte(byte); code != kOk) return code;
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  return SendByte(sum);
}

ErrorCode SendRateSwitch(const ChipRateSetting& setting) {
  std::uint8_t unit[kRateSwitchSize];
  MakeRateSwitchUnit(setting, unit);
  return SendUnit(unit);
}

ErrorCode SwitchLineRate(const LineRatePlan& plan, bool& fellBack) {
  fellBack = false;
  if (plan.rate == g_rate) return kOk;
  // 0xCB, the rate switch with the new setting in it, its sum: the program
  // runs the unit, which answers for itself.
  if (const ErrorCode code = SendRateSwitch(plan.setting); code != kOk) return code;
  // The chip's yes comes at the old rate and has left the chip when it is
  // here, so the port may change at once. A unit that arrived damaged is
  // answered 0x93, a setting the chip has not 0x92: both leave it where it is.
  std::uint8_t reply = 0;
  bool answered = false;
  for (unsigned tries = 0; tries < kReplyWaitTries && !answered; ++tries) {
    answered = ReceiveByte(reply) == kOk;
    if (!answered) SleepMilliseconds(1);
  }
  if (!answered || reply != kRateSwitchAccepted) {
    fellBack = true;
    return FallBack();
  }

  if (SetPortBaudRate(plan.rate) == kOk) {
    SleepMilliseconds(kProbeSettleMs);
    if (const ErrorCode code = SendByte(kRateProbe); code != kOk) return code;
    for (unsigned reads = 0; reads < kProbeAnswerReads; ++reads) {
      if (ReceiveByte(reply) != kOk) continue;
      if (reply != kRateProbeAnswer) break;
      g_rate = plan.rate;
      return kOk;
    }
  }
  fellBack = true;
  return FallBack();
}

std::uint32_t CurrentLineRate() {
  return g_rate;
}

void ResetLineRate() {
  g_rate = kBootBaudRate;
}

}  // namespace vantor
