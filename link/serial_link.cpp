#include "link/serial_link.h"

#include <chrono>
#include <thread>

#include "link/serial_transport.h"

namespace vantor {
namespace {

// The open port's back end; nullptr while the link is closed.
SerialTransport* g_port = nullptr;
TransportSelector g_selector = nullptr;

bool ParityCode(char letter, std::uint8_t& code) {
  switch (letter) {
    case 'N':
    case 'n':
      code = 0;
      return true;
    case 'O':
    case 'o':
      code = 1;
      return true;
    case 'E':
    case 'e':
      code = 2;
      return true;
    case 'M':
    case 'm':
      code = 3;
      return true;
    case 'S':
    case 's':
      code = 4;
      return true;
    default:
      return false;
  }
}

}  // namespace

void SetTransportSelector(TransportSelector selector) {
  g_selector = selector;
}

ErrorCode OpenPort(const char* portName, std::uint32_t baudRate, char parity, std::uint8_t dataBits,
                   float stopBits) {
  LineSettings settings;
  settings.baudRate = baudRate;
  settings.dataBits = dataBits;
  if (!ParityCode(parity, settings.parity)) return kBadLineSettings;

  // (count - 1) * 2, truncated toward zero: 1 -> 0, 1.5 -> 1, 2 -> 2.
  const float stopCode = (stopBits - 1.0f) * 2.0f;
  if (!(stopCode > -1.0f && stopCode < 3.0f)) return kBadLineSettings;
  settings.stopBits = static_cast<std::uint8_t>(static_cast<int>(stopCode));

  if (g_port != nullptr) return kPortAlreadyOpen;

  SerialTransport* transport = g_selector != nullptr ? g_selector(portName) : &PlatformTransport();
  if (transport == nullptr) return kPortOpenFailed;

  const ErrorCode code = transport->Open(portName, settings);
  if (code == kPortOpenFailed) return code;
  g_port = transport;  // open, configured or not
  return code;
}

ErrorCode ClosePort() {
  if (g_port != nullptr) {
    g_port->Close();
    g_port = nullptr;
  }
  return kOk;
}

ErrorCode SendByte(unsigned value) {
  if (g_port == nullptr) return kWriteFailed;
  return g_port->Write(static_cast<std::uint8_t>(value & 0xFFu));
}

ErrorCode ReceiveByte(std::uint8_t& out) {
  if (g_port == nullptr) return kReadFailed;
  return g_port->Read(out);
}

ErrorCode DrainReceiveBuffer() {
  std::uint8_t scratch = 0;
  for (unsigned i = 0; i < kDrainReadLimit; ++i) {
    if (ReceiveByte(scratch) != kOk) return kOk;
  }
  return kDrainOverrun;
}

void SleepMilliseconds(unsigned milliseconds) {
  if (g_port != nullptr) {
    g_port->Sleep(milliseconds);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

bool IsPortOpen() {
  return g_port != nullptr;
}

ErrorCode SetPortBaudRate(std::uint32_t baudRate) {
  if (g_port == nullptr || baudRate == 0) return kPortSetupFailed;
  return g_port->SetBaudRate(baudRate);
}

bool PortTakesAnyRate() {
  return g_port != nullptr && g_port->TakesAnyRate();
}

}  // namespace vantor
