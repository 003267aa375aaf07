#include "link/device_profile.h"

#include "link/embedded_data.h"

namespace vantor {

const DeviceProfile kDeviceProfile = {
    .flashBase = 0,
    .flashSize = 0x40000,
    .writeUnit = 128,
    .embeddedData = kEmbeddedData,
    .embeddedSize = kEmbeddedDataSize,
    .deviceName = "H8S/2215",
    .clockDivisor = 3,
    .presetDivisor = 512,
};

static_assert(kEmbeddedDataSize > kClockTableSize, "the program follows the clock table");

}  // namespace vantor
