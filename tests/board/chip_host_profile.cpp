#include "tests/board/chip_host_profile.h"

#include "link/descrambler.h"
#include "link/device_profile.h"

namespace vantor {
namespace {

std::uint8_t g_embedded[kClockTableSize + board::testing::kHostProgramSize];

#if defined(VANTOR_ECHO_PROGRAM_INC)
constexpr std::uint8_t kEchoProgram[] = {
#include VANTOR_ECHO_PROGRAM_INC
};
static_assert(sizeof kEchoProgram <= board::testing::kHostProgramSize);
#endif

}  // namespace

// Stands in for the product's profile in this test binary only.
const DeviceProfile kDeviceProfile = {
    .flashBase = 0,
    .flashSize = 0x40000,
    .writeUnit = 128,
    .embeddedData = g_embedded,
    .embeddedSize = sizeof g_embedded,
    .deviceName = "H8S/2215",
    .clockDivisor = 3,
    .presetDivisor = 512,
};

namespace board::testing {

bool PrepareEchoProfile() {
#if defined(VANTOR_ECHO_PROGRAM_INC)
  for (std::uint32_t i = 0; i < kHostProgramSize; ++i) {
    const std::uint8_t plain = i < sizeof kEchoProgram ? kEchoProgram[i] : 0;
    g_embedded[kClockTableSize + i] = ScrambleByte(plain, i);
  }
  return true;
#else
  return false;
#endif
}

}  // namespace board::testing
}  // namespace vantor
