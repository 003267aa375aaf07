// The one device this writer supports, and the target data it carries.
#pragma once

#include <cstdint>

namespace vantor {

struct DeviceProfile {
  std::uint32_t flashBase;
  std::uint32_t flashSize;
  std::uint32_t writeUnit;
  const std::uint8_t* embeddedData;  // scrambled: clock parameter table, then program
  std::uint32_t embeddedSize;
  char deviceName[16];
  std::uint32_t clockDivisor;   // states of one DEC.W/BNE wait-loop iteration
  std::uint32_t presetDivisor;  // watchdog clock divider
};

extern const DeviceProfile kDeviceProfile;

// Size of the clock parameter table at the start of the embedded data; the
// write-control program follows it.
inline constexpr std::uint32_t kClockTableSize = 512;

}  // namespace vantor
