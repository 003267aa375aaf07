// The POSIX serial back end: a termios device opened for exclusive use, raw,
// at a fixed rate and format, with poll bounding every one-byte transfer.
#if !defined(_WIN32)

#include "link/serial_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "link/serial_transport.h"

namespace vantor {
namespace {

// A one-byte read waits at most this long (termios' VTIME counts in tenths
// of a second, too coarse for this, so the wait is a poll).
constexpr int kReadTimeoutMs = 10;
// A one-byte write waits at most this long for room in the output queue.
constexpr int kWriteTimeoutMs = 1000;
// The highest "COMn" that names a device.
constexpr unsigned kHighestComNumber = 256;

struct RateCode {
  std::uint32_t rate;
  speed_t code;
};

constexpr RateCode kRates[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#if defined(B460800)
    {460800, B460800},
#endif
#if defined(B500000)
    {500000, B500000},
#endif
#if defined(B576000)
    {576000, B576000},
#endif
#if defined(B921600)
    {921600, B921600},
#endif
#if defined(B1000000)
    {1000000, B1000000},
#endif
#if defined(B1152000)
    {1152000, B1152000},
#endif
#if defined(B1500000)
    {1500000, B1500000},
#endif
#if defined(B2000000)
    {2000000, B2000000},
#endif
};

bool SpeedFor(std::uint32_t rate, speed_t& code) {
  for (const RateCode& entry : kRates) {
    if (entry.rate == rate) {
      code = entry.code;
      return true;
    }
  }
  return false;  // 0 is not here on purpose: B0 would hang the line up
}

bool SizeFlagFor(std::uint8_t dataBits, tcflag_t& flag) {
  constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (dataBits < 5 || dataBits > 8) return false;
  flag = kSizes[dataBits - 5];
  return true;
}

#if defined(CMSPAR)
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;  // no mark or space parity here
#endif

// Parity codes 0 none, 1 odd, 2 even, 3 mark, 4 space.
bool ParityFlagsFor(std::uint8_t parity, tcflag_t& flags) {
  constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | kStickParity,
                                    PARENB | kStickParity};
  if (parity > 4 || (parity >= 3 && kStickParity == 0)) return false;
  flags = kParities[parity];
  return true;
}

// A UART sends one and a half stop bits when told to send two with five data
// bits, and two otherwise; the other pairings are refused, as Windows does.
bool StopFlagFor(std::uint8_t stopBits, std::uint8_t dataBits, tcflag_t& flag) {
  switch (stopBits) {
    case 0:
      flag = 0;
      return true;
    case 1:
      flag = CSTOPB;
      return dataBits == 5;
    case 2:
      flag = CSTOPB;
      return dataBits != 5;
    default:
      return false;
  }
}

// A pseudo-terminal has no modem lines; its driver refuses the calls.
bool NoModemLines(int error) {
  return error == ENOTTY || error == EINVAL;
}

std::int64_t NowNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The end of a bounded wait; survives interrupted polls without stretching.
class Deadline {
 public:
  explicit Deadline(int milliseconds)
      : end_(NowNanoseconds() + static_cast<std::int64_t>(milliseconds) * 1000000) {}

  // Whole milliseconds left, rounded up; 0 once the wait is over.
  int RemainingMilliseconds() const {
    const std::int64_t left = end_ - NowNanoseconds();
    if (left <= 0) return 0;
    return static_cast<int>((left + 999999) / 1000000);
  }

 private:
  std::int64_t end_;
};

class PosixSerialTransport final : public SerialTransport {
 public:
  PosixSerialTransport() = default;
  PosixSerialTransport(const PosixSerialTransport&) = delete;
  PosixSerialTransport& operator=(const PosixSerialTransport&) = delete;
  ~PosixSerialTransport() override { Close(); }

  ErrorCode Open(const char* portName, const LineSettings& settings) override {
    // The link opens one port at a time; refusing here keeps a stray second
    // user from taking over the open descriptor.
    if (fd_ >= 0) return kPortOpenFailed;

    char path[1024];
    if (!DevicePathForPort(portName, path, sizeof path)) return kPortOpenFailed;

    // Not our controlling terminal, and no waiting for carrier on open.
    int fd = -1;
    do {
      fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kPortOpenFailed;  // missing, no permission, or TIOCEXCL'd

    // The lock comes first: a port that is someone else's must be left
    // exactly as it was, their TIOCEXCL included.
    if (::isatty(fd) == 0 || !LockedForUs(fd) || ::ioctl(fd, TIOCEXCL) != 0) {
      ::close(fd);
      return kPortOpenFailed;
    }
    fd_ = fd;
    return Configure(settings);
  }

  void Close() override {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also drops the lock; not retried on EINTR (fd is gone)
    fd_ = -1;
  }

  ErrorCode Write(std::uint8_t byte) override {
    if (fd_ < 0) return kWriteFailed;
    const Deadline deadline(kWriteTimeoutMs);
    for (;;) {
      const ssize_t written = ::write(fd_, &byte, 1);
      if (written == 1) return kOk;
      if (written < 0 && errno == EINTR) continue;
      if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return kWriteFailed;

      // The output queue is full: wait for room, at most until the deadline.
      const int wait = deadline.RemainingMilliseconds();
      if (wait == 0) return kWriteTimeout;
      pollfd entry{fd_, POLLOUT, 0};
      const int ready = ::poll(&entry, 1, wait);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return kWriteFailed;
      if (ready == 0) return kWriteTimeout;
      if ((entry.revents & POLLOUT) == 0) return kWriteFailed;  // hang-up or error
    }
  }

  ErrorCode Read(std::uint8_t& byte) override {
    if (fd_ < 0) return kReadFailed;
    const Deadline deadline(kReadTimeoutMs);
    for (;;) {
      const ssize_t got = ::read(fd_, &byte, 1);
      if (got == 1) return kOk;
      if (got == 0) return kReadFailed;  // end of file: the line hung up
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return kReadFailed;  // EIO and the like

      const int wait = deadline.RemainingMilliseconds();
      if (wait == 0) return kReadTimeout;
      pollfd entry{fd_, POLLIN, 0};
      const int ready = ::poll(&entry, 1, wait);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return kReadFailed;
      if (ready == 0) return kReadTimeout;
      if ((entry.revents & POLLIN) == 0) return kReadFailed;  // hang-up or error
    }
  }

  // A rate with a termios code goes through tcsetattr like the open's;
  // any other through the system's own call for free rates.
  ErrorCode SetBaudRate(std::uint32_t baudRate) override {
    if (fd_ < 0 || baudRate == 0) return kPortSetupFailed;
    speed_t speed = B0;
    if (!SpeedFor(baudRate, speed)) {
      return SetAnyLineRate(fd_, baudRate) ? kOk : kPortSetupFailed;
    }
    termios line{};
    if (::tcgetattr(fd_, &line) != 0) return kPortSetupFailed;
#if defined(CIBAUD)
    // An input rate left from a free rate would stay: zero means "as output".
    line.c_cflag &= ~static_cast<tcflag_t>(CIBAUD);
#endif
    if (::cfsetispeed(&line, speed) != 0 || ::cfsetospeed(&line, speed) != 0) {
      return kPortSetupFailed;
    }
    if (!Apply(line)) return kPortSetupFailed;
    termios applied{};
    if (::tcgetattr(fd_, &applied) != 0 || ::cfgetospeed(&applied) != speed) {
      return kPortSetupFailed;
    }
    // libc's read-back shows one rate for both directions; the driver's own
    // figures show both.
    std::uint32_t output = 0;
    std::uint32_t input = 0;
    if (ReadLineRate(fd_, output, &input) && (output != baudRate || input != baudRate)) {
      return kPortSetupFailed;
    }
    return kOk;
  }

  bool TakesAnyRate() const override {
    return DriverTakesAnyRate();
  }

  void Sleep(unsigned milliseconds) override {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

 private:
  // Another process's advisory lock means the port is in use. A file system
  // without flock still has TIOCEXCL guarding the port.
  static bool LockedForUs(int fd) {
    int result = -1;
    do {
      result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0 || (errno != EWOULDBLOCK && errno != EAGAIN);
  }

  // Raw line at the requested format, receiver on, modem status lines
  // ignored, no flow control of either kind; reads return as soon as one
  // byte is there. Then DTR off and RTS on.
  ErrorCode Configure(const LineSettings& settings) {
    speed_t speed = B0;
    tcflag_t size = 0;
    tcflag_t parity = 0;
    tcflag_t stop = 0;
    if (!SpeedFor(settings.baudRate, speed) || !SizeFlagFor(settings.dataBits, size) ||
        !ParityFlagsFor(settings.parity, parity) ||
        !StopFlagFor(settings.stopBits, settings.dataBits, stop)) {
      return kPortSetupFailed;
    }

    termios line{};
    if (::tcgetattr(fd_, &line) != 0) return kPortSetupFailed;
    line.c_iflag = 0;
    line.c_oflag = 0;
    line.c_lflag = 0;
    line.c_cflag = size | parity | stop | CREAD | CLOCAL | HUPCL;
    std::memset(line.c_cc, 0, sizeof line.c_cc);
    line.c_cc[VMIN] = 1;  // so that a read with nothing there is EAGAIN, not end of file
    line.c_cc[VTIME] = 0;
    if (::cfsetispeed(&line, speed) != 0 || ::cfsetospeed(&line, speed) != 0) {
      return kPortSetupFailed;
    }
    if (!Apply(line)) return kPortSetupFailed;

    // A driver may keep its old rate or format and still report success.
    termios applied{};
    const tcflag_t format = CSIZE | PARENB | PARODD | CSTOPB | kStickParity;
    if (::tcgetattr(fd_, &applied) != 0 || ::cfgetospeed(&applied) != speed ||
        (applied.c_cflag & format) != (line.c_cflag & format)) {
      return kPortSetupFailed;
    }

    int dtr = TIOCM_DTR;
    if (::ioctl(fd_, TIOCMBIC, &dtr) != 0 && !NoModemLines(errno)) return kPortSetupFailed;
    int rts = TIOCM_RTS;
    if (::ioctl(fd_, TIOCMBIS, &rts) != 0 && !NoModemLines(errno)) return kPortSetupFailed;

#if defined(__linux__)
    // USB serial adapters otherwise hold received bytes back for up to
    // 16 ms, which every echo of the boot exchange would pay. A refusal
    // only costs speed.
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
      serial.flags |= ASYNC_LOW_LATENCY;
      ::ioctl(fd_, TIOCSSERIAL, &serial);
    }
#endif
    return kOk;
  }

  bool Apply(const termios& line) {
    int result = -1;
    do {
      result = ::tcsetattr(fd_, TCSANOW, &line);
    } while (result != 0 && errno == EINTR);
    return result == 0;
  }

  int fd_ = -1;
};

bool IsComLetter(char c, char upper) {
  return c == upper || c == upper - 'A' + 'a';
}

}  // namespace

bool DevicePathForPort(const char* portName, char* path, std::size_t size) {
  if (path == nullptr || size == 0) return false;
  path[0] = '\0';
  if (portName == nullptr || portName[0] == '\0') return false;

  if (portName[0] == '/') {
    const std::size_t length = std::strlen(portName);
    if (length >= size) return false;
    std::memcpy(path, portName, length + 1);
    return true;
  }

#if defined(__linux__)
  if (IsComLetter(portName[0], 'C') && IsComLetter(portName[1], 'O') &&
      IsComLetter(portName[2], 'M')) {
    const char* digits = portName + 3;
    if (digits[0] < '1' || digits[0] > '9') return false;  // no "COM", "COM0", "COM01"
    unsigned number = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
      if (*p < '0' || *p > '9') return false;
      number = number * 10 + static_cast<unsigned>(*p - '0');
      if (number > kHighestComNumber) return false;
    }
    const int written = std::snprintf(path, size, "/dev/ttyS%u", number - 1);
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
      path[0] = '\0';
      return false;
    }
    return true;
  }
#endif
  return false;
}

SerialTransport& PlatformTransport() {
  static PosixSerialTransport transport;
  return transport;
}

}  // namespace vantor

#endif  // !defined(_WIN32)
