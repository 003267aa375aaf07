// The seam below the serial link: one back end per kind of line.
//
// The serial link (serial_link.h) owns the one open port of the process and
// speaks to it only through this interface. Back ends: POSIX termios
// (serial_posix.cpp), Win32 (serial_win32.cpp), the virtual board (port
// name "sim") and, in the tests, an in-memory fake with a virtual clock.
#pragma once

#include <cstdint>

#include "common/error_code.h"

namespace vantor {

// Line format in the codes the Windows DCB uses.
struct LineSettings {
  std::uint32_t baudRate = 9600;
  std::uint8_t dataBits = 8;
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
};

class SerialTransport {
 public:
  virtual ~SerialTransport() = default;

  // Opens the named device for exclusive use and applies the line settings,
  // a one-byte read time-out of 10 ms and a one-byte write time-out of
  // 1000 ms. Returns 0; kPortOpenFailed when the device cannot be opened
  // (nothing is open afterwards); kPortSetupFailed when it opened but could
  // not be configured (it stays open until Close).
  virtual ErrorCode Open(const char* portName, const LineSettings& settings) = 0;

  // Closes the device. Harmless when nothing is open.
  virtual void Close() = 0;

  // Sends one byte: 0, kWriteFailed, or kWriteTimeout when nothing was
  // written within the write time-out.
  virtual ErrorCode Write(std::uint8_t byte) = 0;

  // Receives one byte, waiting at most the read time-out: 0, kReadFailed, or
  // kReadTimeout when nothing came.
  virtual ErrorCode Read(std::uint8_t& byte) = 0;

  // The pause between the tries of a reply wait.
  virtual void Sleep(unsigned milliseconds) = 0;

  // Changes the bit rate of the open port and keeps the rest of its
  // settings. The rate is read back: 0 when the port runs at `baudRate`,
  // kPortSetupFailed when it refused the rate or reports another one (the
  // port then runs at an unknown rate: set it again before use).
  virtual ErrorCode SetBaudRate(std::uint32_t baudRate) {
    static_cast<void>(baudRate);
    return kPortSetupFailed;
  }

  // Whether the driver takes any rate, not only the standard ones (50 ...
  // 921600 and the few above that termios names).
  virtual bool TakesAnyRate() const { return false; }
};

// Chooses the back end for a port name; called by OpenPort before the device
// is touched. Returning nullptr refuses the name (OpenPort gives 201).
using TransportSelector = SerialTransport* (*)(const char* portName);

// Installs a selector; nullptr restores the default, which gives the
// platform's serial back end for every name.
void SetTransportSelector(TransportSelector selector);

// The serial back end of the platform this program was built for.
SerialTransport& PlatformTransport();

}  // namespace vantor
