// The fast line: after write mode the chip and the host may move from the
// boot rate of 9600 bit/s to a faster one for the blocks (command 0xCB).
//
// The chip's serial interface runs at phi / (32 x 4^n x (N + 1)) bit/s for
// its clock phi, clock select n (0-3) and bit-rate register N (0-255). The
// host takes a rate only when the chip comes within 2 % of it and the port
// accepts it. Free functions over module state, integer codes, nothing
// thrown; the write operation calls them, and so can any front end.
#pragma once

#include <cstdint>

#include "common/error_code.h"
#include "link/embedded_data.h"

namespace vantor {

inline constexpr std::uint32_t kBootBaudRate = 9600;
// The standard rates above the boot rate that a fast line may use.
inline constexpr std::uint32_t kStandardFastRates[] = {19200,  38400,  57600, 115200,
                                                       230400, 460800, 921600};
inline constexpr std::uint32_t kFastestRate = 921600;
// How far the chip's rate may lie from the port's, in thousandths.
inline constexpr std::uint32_t kRateTolerancePerMille = 20;

// The chip's settings for a rate.
struct ChipRateSetting {
  std::uint8_t brr = 0;          // N
  std::uint8_t clockSelect = 0;  // n
  double chipRate = 0.0;         // bit/s the chip runs at with them
};

// The setting whose rate lies nearest to `rate` at the chip clock `clockHz`;
// false when none comes within 2 %.
bool ChipSettingFor(std::uint32_t clockHz, std::uint32_t rate, ChipRateSetting& setting);

// What the operator asked for.
enum class LineRateMode {
  kBoot,       // stay at 9600 bit/s: the line carries exactly the boot-rate stream
  kFastest,    // the highest rate the chip and the port both reach
  kRequested,  // one rate, or a failure
};

struct LineRateRequest {
  LineRateMode mode = LineRateMode::kBoot;
  std::uint32_t rate = 0;  // kRequested only
};

// The request the next write follows (start-up sets it; the default stays at
// the boot rate).
void SetLineRateRequest(const LineRateRequest& request);
const LineRateRequest& CurrentLineRateRequest();

// The rate a write will switch to, with the chip's settings.
struct LineRatePlan {
  std::uint32_t rate = kBootBaudRate;  // the port's rate; 9600: no switch
  ChipRateSetting setting;
};

// Chooses the rate for `request` at the chip clock `clockHz` on the open
// port. A candidate counts as accepted when the port takes it; the port is
// back at 9600 bit/s afterwards. kFastest always succeeds (9600 when nothing
// faster fits). kRequested: 310 when the chip cannot come within 2 % of the
// rate, 311 when the port refuses it. 202 when the port cannot go back to
// 9600 bit/s after a try.
ErrorCode ChooseLineRate(std::uint32_t clockHz, const LineRateRequest& request, LineRatePlan& plan);

// The rate switch unit for `setting`: the embedded code with the setting
// filled in. Returns the unit's sum.
std::uint8_t MakeRateSwitchUnit(const ChipRateSetting& setting,
                                std::uint8_t (&unit)[kRateSwitchSize]);
// Sends 0xCB, a unit of code for the chip's program to run, and its sum;
// no reply is read.
inline constexpr std::uint32_t kUnitSize = 128;
static_assert(kRateSwitchSize == kUnitSize && kStreamLoaderSize == kUnitSize);
ErrorCode SendUnit(const std::uint8_t (&unit)[kUnitSize]);
// The same with the rate switch unit for `setting`.
ErrorCode SendRateSwitch(const ChipRateSetting& setting);

// Moves chip and port to the plan's rate: 0xCB with the rate switch (the
// 128-byte unit the chip's program runs, kEmbeddedRateSwitch, carrying the
// clock select n and N) and its sum, the chip's 0x06 at the old rate, the port to the new rate, 2
// ms, the probe 0x55, the chip's 0xAA at the new rate. When that fails both ends go back to 9600
// bit/s (500 ms for the chip to give up, the line drained, 0xC0 to confirm the chip answers),
// `fellBack` is set and the result is 0. Failures: 212/213 (a send failed), 202 (the port cannot
// return to 9600 bit/s), 304 (no answer at 9600 bit/s after a failed switch), 301/303 (a wrong
// answer then).
ErrorCode SwitchLineRate(const LineRatePlan& plan, bool& fellBack);

// The rate the link runs at: 9600 after OpenPort, the new rate after a
// successful switch.
std::uint32_t CurrentLineRate();
void ResetLineRate();

inline constexpr std::uint8_t kRateSwitchCommand = 0xCB;
inline constexpr std::uint8_t kRateSwitchAccepted = 0x06;
inline constexpr std::uint8_t kRateProbe = 0x55;
inline constexpr std::uint8_t kRateProbeAnswer = 0xAA;
inline constexpr unsigned kProbeSettleMs = 2;
inline constexpr unsigned kFallBackWaitMs = 500;

}  // namespace vantor
