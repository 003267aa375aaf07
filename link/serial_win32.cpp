// The Win32 serial back end: a COM port opened for exclusive, synchronous
// use, one byte per ReadFile or WriteFile.
#if defined(_WIN32)

#include "link/serial_win32.h"

#include <cstring>

namespace vantor {
namespace {

// Room for the "\\.\" prefix, a port name and the terminating zero.
constexpr int kPathCapacity = 260;

// Turns the UTF-8 port name into the path CreateFileW opens. Names such as
// "COM1" get the device prefix "\\.\": without it only COM1 to COM9 are
// found. A name that already starts with "\\.\" or "\\?\" is kept as it is.
bool MakeDevicePath(const char* portName, wchar_t (&path)[kPathCapacity]) {
  if (portName == nullptr || portName[0] == '\0') return false;
  const bool hasPrefix =
      std::strncmp(portName, "\\\\.\\", 4) == 0 || std::strncmp(portName, "\\\\?\\", 4) == 0;
  int offset = 0;
  if (!hasPrefix) {
    const wchar_t prefix[] = L"\\\\.\\";
    std::memcpy(path, prefix, sizeof prefix);
    offset = 4;
  }
  const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, portName, -1,
                                          path + offset, kPathCapacity - offset);
  return written > 0;
}

class Win32Transport final : public SerialTransport {
 public:
  ErrorCode Open(const char* portName, const LineSettings& settings) override {
    if (handle_ != INVALID_HANDLE_VALUE) return kPortAlreadyOpen;
    wchar_t path[kPathCapacity];
    if (!MakeDevicePath(portName, path)) return kPortOpenFailed;

    handle_ =
        CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return kPortOpenFailed;

    // From here on the port stays open whatever happens, until Close.
    settings_ = settings;
    DCB dcb = MakeLineDcb(settings);
    if (!SetCommState(handle_, &dcb)) return kPortSetupFailed;
    COMMTIMEOUTS timeouts = MakeLineTimeouts();
    if (!SetCommTimeouts(handle_, &timeouts)) return kPortSetupFailed;
    return kOk;
  }

  void Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  ErrorCode Write(std::uint8_t byte) override {
    DWORD written = 0;
    if (!WriteFile(handle_, &byte, 1, &written, nullptr)) return kWriteFailed;
    return written == 0 ? kWriteTimeout : kOk;
  }

  ErrorCode Read(std::uint8_t& byte) override {
    DWORD count = 0;
    if (!ReadFile(handle_, &byte, 1, &count, nullptr)) return kReadFailed;
    return count == 0 ? kReadTimeout : kOk;
  }

  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }

  // The open's settings with another rate, built from nothing as at the
  // open, then read back: some drivers keep their old rate and say yes.
  ErrorCode SetBaudRate(std::uint32_t baudRate) override {
    if (handle_ == INVALID_HANDLE_VALUE || baudRate == 0) return kPortSetupFailed;
    LineSettings settings = settings_;
    settings.baudRate = baudRate;
    DCB dcb = MakeLineDcb(settings);
    if (!SetCommState(handle_, &dcb)) return kPortSetupFailed;
    DCB applied;
    std::memset(&applied, 0, sizeof applied);
    applied.DCBlength = sizeof applied;
    if (!GetCommState(handle_, &applied) || applied.BaudRate != baudRate) {
      return kPortSetupFailed;
    }
    settings_ = settings;
    return kOk;
  }

  // A driver that lists BAUD_USER takes a rate given as a number.
  bool TakesAnyRate() const override {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    COMMPROP properties;
    std::memset(&properties, 0, sizeof properties);
    if (!GetCommProperties(handle_, &properties)) return false;
    return (properties.dwSettableBaud & BAUD_USER) != 0 || properties.dwMaxBaud == BAUD_USER;
  }

  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  LineSettings settings_;
};

Win32Transport g_transport;

}  // namespace

DCB MakeLineDcb(const LineSettings& settings) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = settings.baudRate;
  dcb.fBinary = 1;
  dcb.fParity = settings.parity != NOPARITY ? 1 : 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = 0;
  dcb.XonLim = 0;
  dcb.XoffLim = 0;
  dcb.ByteSize = settings.dataBits;
  dcb.Parity = settings.parity;
  dcb.StopBits = settings.stopBits;
  return dcb;
}

COMMTIMEOUTS MakeLineTimeouts() {
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 10;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 1000;
  timeouts.WriteTotalTimeoutConstant = 0;
  return timeouts;
}

HANDLE Win32PortHandle() {
  return g_transport.handle();
}

SerialTransport& PlatformTransport() {
  return g_transport;
}

}  // namespace vantor

#endif  // _WIN32
