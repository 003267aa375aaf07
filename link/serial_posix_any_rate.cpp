// Rates outside the termios speed codes. Linux takes any rate through the
// termios2 calls with BOTHER; macOS through the IOSSIOSPEED call of its
// serial drivers. The Linux structures clash with <termios.h>, so this file
// keeps to the kernel's own header and the rest of the back end to libc's.
#if !defined(_WIN32)

#include "link/serial_posix.h"

#include <cerrno>

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
#elif defined(__APPLE__)
#include <IOKit/serial/ioss.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace vantor {
namespace {

// A driver may report the rate its divisor gives rather than the one asked
// for; within this many parts in a thousand it counts as the same.
constexpr std::uint32_t kReadBackPerMille = 10;

bool CloseEnough(std::uint32_t applied, std::uint32_t wanted) {
  const std::uint64_t difference = applied > wanted ? applied - wanted : wanted - applied;
  return difference * 1000 <= std::uint64_t{wanted} * kReadBackPerMille;
}

}  // namespace

#if defined(__linux__)

bool DriverTakesAnyRate() {
  return true;
}

bool ReadLineRate(int fd, std::uint32_t& rate, std::uint32_t* inputRate) {
  struct termios2 line {};
  if (::ioctl(fd, TCGETS2, &line) != 0) return false;
  rate = line.c_ospeed;
  if (inputRate != nullptr) *inputRate = line.c_ispeed;
  return true;
}

bool SetAnyLineRate(int fd, std::uint32_t rate) {
  if (rate == 0) return false;
  struct termios2 line {};
  if (::ioctl(fd, TCGETS2, &line) != 0) return false;
  // The output rate from c_ospeed, the input rate the same (CIBAUD = BOTHER
  // takes c_ispeed).
  line.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  line.c_ospeed = rate;
  line.c_ispeed = rate;
  int result = -1;
  do {
    result = ::ioctl(fd, TCSETS2, &line);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return false;

  struct termios2 applied {};
  if (::ioctl(fd, TCGETS2, &applied) != 0) return false;
  return CloseEnough(applied.c_ospeed, rate) && CloseEnough(applied.c_ispeed, rate);
}

#elif defined(__APPLE__)

bool DriverTakesAnyRate() {
  return true;
}

bool ReadLineRate(int fd, std::uint32_t& rate, std::uint32_t* inputRate) {
  termios line{};
  if (::tcgetattr(fd, &line) != 0) return false;
  rate = static_cast<std::uint32_t>(::cfgetospeed(&line));  // speeds are rates here
  if (inputRate != nullptr) *inputRate = static_cast<std::uint32_t>(::cfgetispeed(&line));
  return true;
}

bool SetAnyLineRate(int fd, std::uint32_t rate) {
  if (rate == 0) return false;
  speed_t speed = rate;
  if (::ioctl(fd, IOSSIOSPEED, &speed) != 0) return false;
  std::uint32_t applied = 0;
  std::uint32_t input = 0;
  return ReadLineRate(fd, applied, &input) && CloseEnough(applied, rate) &&
         CloseEnough(input, rate);
}

#else

bool DriverTakesAnyRate() {
  return false;
}

bool ReadLineRate(int, std::uint32_t&, std::uint32_t*) {
  return false;
}

bool SetAnyLineRate(int, std::uint32_t) {
  return false;
}

#endif

}  // namespace vantor

#endif  // !defined(_WIN32)
