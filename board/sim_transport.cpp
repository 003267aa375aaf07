#include "board/sim_transport.h"

#include "board/flash_image.h"

#include <cstring>
#include <memory>

namespace vantor::board {
namespace {

ChipOptions g_options;
std::string g_dumpPath;
std::unique_ptr<H8s2215Chip> g_chip;
LineFaults g_lineFaults;

// One byte on the line at 9600 bit/s takes about 1 ms; a read waits 10 ms.
constexpr double kReadTimeoutMicros = 10000.0;

class SimTransport final : public SerialTransport {
 public:
  ErrorCode Open(const char*, const LineSettings& settings) override {
    H8s2215Chip& chip = SimBoard();
    if (chip.Options().clockHz != g_options.clockHz) chip.SetClock(g_options.clockHz);
    chip.SetHostBitRate(settings.baudRate == 0 ? 9600 : settings.baudRate);
    chip.PowerOnBootMode();
    g_lineFaults.PowerOn();
    open_ = true;
    return kOk;
  }

  void Close() override {
    if (!open_) return;
    open_ = false;
    if (!g_dumpPath.empty() && g_chip) SaveFlash(*g_chip, g_dumpPath);
  }

  ErrorCode Write(std::uint8_t byte) override {
    if (!open_) return kWriteFailed;
    if (g_lineFaults.ToBoard(byte)) SimBoard().HostSend(byte);
    return kOk;
  }

  ErrorCode Read(std::uint8_t& byte) override {
    if (!open_) return kReadFailed;
    H8s2215Chip& chip = SimBoard();
    if (!chip.HostReceive(byte)) {
      chip.RunForMicroseconds(kReadTimeoutMicros, /*stopOnHostByte=*/true);
      if (!chip.HostReceive(byte)) return kReadTimeout;
    }
    g_lineFaults.ToHost(chip, byte);
    return kOk;
  }

  void Sleep(unsigned milliseconds) override {
    if (open_) SimBoard().RunForMicroseconds(milliseconds * 1000.0);
  }

  // The host's end of the line changes its rate; the board's receiver and
  // the host's see the difference to the chip's SCI from the next byte on.
  ErrorCode SetBaudRate(std::uint32_t baudRate) override {
    if (!open_ || baudRate == 0) return kPortSetupFailed;
    SimBoard().SetHostBitRate(baudRate);
    return kOk;
  }

  bool TakesAnyRate() const override { return true; }

 private:
  bool open_ = false;
};

SimTransport g_transport;

}  // namespace

SerialTransport* SimTransportFor(const char* portName) {
  if (portName != nullptr && std::strcmp(portName, kSimPortName) == 0) return &g_transport;
  return &PlatformTransport();
}

void SetSimBoardClock(std::uint32_t clockHz) {
  g_options.clockHz = clockHz;
}

void SetSimBoardLoadAddress(std::uint32_t address) {
  g_options.loadAddress = address;
  if (g_chip) g_chip->SetLoadAddress(address);
}

void SetSimBoardDump(const std::string& path) {
  g_dumpPath = path;
}

void SetSimBoardLineFaults(std::vector<LineFault> faults) {
  g_lineFaults.Set(std::move(faults));
}

const LineFaults& SimBoardLineFaults() {
  return g_lineFaults;
}

H8s2215Chip& SimBoard() {
  if (!g_chip) g_chip = std::make_unique<H8s2215Chip>(g_options);
  return *g_chip;
}

void ResetSimBoard() {
  g_chip.reset();
}

}  // namespace vantor::board
