#include "tests/board/chip_host_profile.h"

#include "board/h8s2215_device.h"
#include "link/descrambler.h"
#include "link/device_profile.h"
#include "tests/board/chip_assembler.h"

namespace vantor {
namespace {

std::uint8_t g_embedded[kClockTableSize + board::testing::kHostProgramSize];

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

bool PrepareEchoProfile(std::string& errors) {
  // Position-independent, so it runs wherever the boot ROM put it.
  const auto image = Assemble(
      "rx:\tbtst\t#6,@SCI1_BASE+SCI_SSR:8\n\tbeq\trx\n"
      "\tmov.b\t@SCI1_BASE+SCI_RDR:8,r0l\n\tbclr\t#6,@SCI1_BASE+SCI_SSR:8\n"
      "tx:\tbtst\t#7,@SCI1_BASE+SCI_SSR:8\n\tbeq\ttx\n"
      "\tmov.b\tr0l,@SCI1_BASE+SCI_TDR:8\n\tbclr\t#7,@SCI1_BASE+SCI_SSR:8\n\tbra\trx\n",
      device::kDefaultLoadAddress, errors);
  if (image.empty() || image.size() > kHostProgramSize) return false;
  for (std::uint32_t i = 0; i < kHostProgramSize; ++i) {
    const std::uint8_t plain = i < image.size() ? image[i] : 0;
    g_embedded[kClockTableSize + i] = ScrambleByte(plain, i);
  }
  return true;
}

}  // namespace board::testing
}  // namespace vantor
