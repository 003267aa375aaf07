// The serial link over the termios back end, against a real pseudo-terminal:
// the test plays the target board on the master side.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/inotify.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>

#include "link/serial_link.h"
#include "link/serial_posix.h"

namespace vantor {
namespace {

// A pseudo-terminal pair. The host program opens the slave as its port; the
// test holds the master (the board's end) and its own slave descriptor, from
// which it reads back the line settings without taking any data.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (name == nullptr) return;
    path_ = name;
    view_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  }
  ~PseudoTerminal() {
    if (view_ >= 0) ::close(view_);
    HangUp();
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool Ready() const { return master_ >= 0 && view_ >= 0; }

  // Up to a second in all, however often a signal cuts the wait.
  static int PollAgain(pollfd& entry) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
      if (ready >= 0 || errno != EINTR) return ready;
    }
  }
  static ssize_t ReadAgain(int fd, std::uint8_t& byte) {
    ssize_t got = 0;
    do {
      got = ::read(fd, &byte, 1);
    } while (got < 0 && errno == EINTR);
    return got;
  }
  const char* Path() const { return path_.c_str(); }

  // The board's side of the line. A test may run it with a signal arriving
  // every millisecond, so each call is tried again when a signal cut it.

  // The board sends bytes to the host.
  bool Send(const std::vector<std::uint8_t>& bytes) {
    ssize_t written = 0;
    do {
      written = ::write(master_, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(bytes.size());
  }

  // The board receives up to `count` bytes, waiting at most a second for each.
  std::vector<std::uint8_t> Receive(std::size_t count) {
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < count) {
      pollfd entry{master_, POLLIN, 0};
      std::uint8_t byte = 0;
      if (PollAgain(entry) != 1 || ReadAgain(master_, byte) != 1) break;
      bytes.push_back(byte);
    }
    return bytes;
  }

  // Waits until what the board sent has reached the host's side of the line.
  bool ArrivedAtHost() {
    pollfd entry{view_, POLLIN, 0};
    return PollAgain(entry) == 1;
  }

  // Fills the host's output queue, as a board that stopped reading would.
  // The kernel moves queued bytes on in the background, so it is topped up
  // until a pause has made no more room.
  std::size_t FillHostOutput() {
    std::uint8_t block[4096] = {};
    std::size_t total = 0;
    for (std::size_t round = 1; round > 0; total += round) {
      round = 0;
      ssize_t written = 0;
      while ((written = ::write(view_, block, sizeof block)) > 0) {
        round += static_cast<std::size_t>(written);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return total;
  }

  // The board reads all that is waiting for it.
  void ReadAll() {
    std::uint8_t block[4096];
    pollfd entry{master_, POLLIN, 0};
    while (::poll(&entry, 1, 5) == 1 && ::read(master_, block, sizeof block) > 0) {
    }
  }

  // The rates of the line as the board's end reads them (on Linux the two
  // ends of a pseudo-terminal share them).
  bool BoardSeesRate(std::uint32_t& output, std::uint32_t& input) const {
    return ReadLineRate(master_, output, &input);
  }

  termios HostSettings() const {
    termios line{};
    EXPECT_EQ(::tcgetattr(view_, &line), 0);
    return line;
  }

  // The board's end goes away, as a USB adapter does when unplugged.
  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int view_ = -1;
  std::string path_;
};

class SerialPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClosePort();
    ASSERT_TRUE(pty_.Ready());
  }
  void TearDown() override { ClosePort(); }

  ErrorCode Open9600() { return OpenPort(pty_.Path(), 9600, 'n', 8, 1.0f); }

  // One byte each way over the open link.
  void ExpectLineWorks(std::uint8_t toBoard, std::uint8_t toHost) {
    EXPECT_EQ(SendByte(toBoard), kOk);
    EXPECT_EQ(pty_.Receive(1), std::vector<std::uint8_t>{toBoard});
    ASSERT_TRUE(pty_.Send({toHost}));
    ASSERT_TRUE(pty_.ArrivedAtHost());  // the kernel passes it on in the background
    std::uint8_t byte = 0;
    EXPECT_EQ(ReceiveByte(byte), kOk);
    EXPECT_EQ(byte, toHost);
  }

  PseudoTerminal pty_;
};

TEST_F(SerialPosixTest, OpensRaw8N1At9600WithoutFlowControl) {
  ASSERT_EQ(Open9600(), kOk);
  EXPECT_TRUE(IsPortOpen());

  const termios line = pty_.HostSettings();
  EXPECT_EQ(::cfgetispeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
}

TEST_F(SerialPosixTest, TwoStopBitsReachTheLineAndAFormatTheDriverDropsGives202) {
  ASSERT_EQ(OpenPort(pty_.Path(), 9600, 'N', 8, 2.0f), kOk);
  EXPECT_EQ(pty_.HostSettings().c_cflag & (CSIZE | PARENB | CSTOPB),
            static_cast<tcflag_t>(CS8 | CSTOPB));
  ClosePort();
#if defined(__linux__)
  // A Linux pseudo-terminal keeps eight data bits and no parity whatever it
  // is told, and says it succeeded: the link reads the settings back and
  // reports the refusal rather than run in a format the line does not have.
  for (const char parity : {'E', 'e', 'O', 'o', 'M', 'm', 'S', 's'}) {
    SCOPED_TRACE(parity);
    EXPECT_EQ(OpenPort(pty_.Path(), 9600, parity, 8, 1.0f), kPortSetupFailed);
    EXPECT_TRUE(IsPortOpen());
    ClosePort();
  }
  EXPECT_EQ(OpenPort(pty_.Path(), 9600, 'n', 7, 1.0f), kPortSetupFailed);
  ClosePort();
#endif
}

TEST_F(SerialPosixTest, RefusedSettingsGive202AndLeaveThePortOpenUntilClosed) {
  struct Case {
    std::uint32_t rate;
    std::uint8_t dataBits;
    float stopBits;
  };
  // A rate no driver knows, rate 0 (which would hang the line up), one and a
  // half stop bits with eight data bits, nine data bits.
  const Case cases[] = {{12345, 8, 1.0f}, {0, 8, 1.0f}, {9600, 8, 1.5f}, {9600, 9, 1.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " " + std::to_string(c.dataBits));
    EXPECT_EQ(OpenPort(pty_.Path(), c.rate, 'n', c.dataBits, c.stopBits), kPortSetupFailed);
    EXPECT_TRUE(IsPortOpen());
    EXPECT_EQ(Open9600(), kPortAlreadyOpen);
    EXPECT_EQ(ClosePort(), kOk);
    EXPECT_FALSE(IsPortOpen());
  }
}

TEST_F(SerialPosixTest, BytesPassUnchangedEachWay) {
  ASSERT_EQ(Open9600(), kOk);
  // Bytes a cooked terminal would translate, swallow or signal on.
  const std::vector<std::uint8_t> special = {0x00, 0x03, 0x0A, 0x0D, 0x11, 0x13, 0x7F, 0xFF};
  for (const std::uint8_t b : special) {
    SCOPED_TRACE(static_cast<int>(b));
    ExpectLineWorks(b, b);
  }
  // Only the low eight bits are sent, and nothing else with them.
  EXPECT_EQ(SendByte(0x1C3), kOk);
  EXPECT_EQ(SendByte(0x5A), kOk);
  EXPECT_EQ(pty_.Receive(2), (std::vector<std::uint8_t>{0xC3, 0x5A}));
}

TEST_F(SerialPosixTest, QuietLineGives211AfterAboutTenMilliseconds) {
  ASSERT_EQ(Open9600(), kOk);
  // Every read waits its 10 ms; the quickest of five shows what one costs
  // (a busy machine can only make a single read look slower).
  auto quickest = std::chrono::steady_clock::duration::max();
  for (int i = 0; i < 5; ++i) {
    std::uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveByte(byte), kReadTimeout);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(9));
    quickest = std::min(quickest, waited);
  }
  EXPECT_LT(quickest, std::chrono::milliseconds(50));
}

TEST_F(SerialPosixTest, DrainDiscardsStaleBytesAndLeavesTheLineWorking) {
  ASSERT_EQ(Open9600(), kOk);
  ASSERT_TRUE(pty_.Send({0x55, 0xAA, 0x00}));
  ASSERT_TRUE(pty_.ArrivedAtHost());
  EXPECT_EQ(DrainReceiveBuffer(), kOk);
  std::uint8_t byte = 0;
  EXPECT_EQ(ReceiveByte(byte), kReadTimeout);
  ExpectLineWorks(0xC0, 0x5A);
}

TEST_F(SerialPosixTest, SecondOpenGives203AndTheFirstPortKeepsWorking) {
  ASSERT_EQ(Open9600(), kOk);
  EXPECT_EQ(Open9600(), kPortAlreadyOpen);
  PseudoTerminal other;
  ASSERT_TRUE(other.Ready());
  EXPECT_EQ(OpenPort(other.Path(), 9600, 'n', 8, 1.0f), kPortAlreadyOpen);
  EXPECT_TRUE(IsPortOpen());
  ExpectLineWorks(0x55, 0xAA);
}

TEST_F(SerialPosixTest, NamesOfNoDeviceGive201AndALaterOpenWorks) {
  char file[] = "/tmp/vantor-not-a-tty-XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  ::close(fd);

  const char* names[] = {"", "/dev/vantor-no-such-device", "ttyS0", "COM0", file};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(OpenPort(name, 9600, 'n', 8, 1.0f), kPortOpenFailed);
    EXPECT_FALSE(IsPortOpen());
  }
  EXPECT_EQ(OpenPort(nullptr, 9600, 'n', 8, 1.0f), kPortOpenFailed);
  ::unlink(file);

  EXPECT_EQ(ClosePort(), kOk);  // harmless when closed, twice too
  EXPECT_EQ(ClosePort(), kOk);
  ASSERT_EQ(Open9600(), kOk);
  ExpectLineWorks(0x00, 0xAA);
}

TEST_F(SerialPosixTest, PortHeldByAnotherProcessGives201UntilReleased) {
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another writer holding the port until told to let go.
    const char result = static_cast<char>(Open9600());
    char go = 0;
    if (::write(ready[1], &result, 1) == 1) (void)!::read(release[0], &go, 1);
    ClosePort();
    ::_exit(0);
  }
  char childResult = -1;
  ASSERT_EQ(::read(ready[0], &childResult, 1), 1);
  ASSERT_EQ(childResult, kOk);

  EXPECT_EQ(Open9600(), kPortOpenFailed);
  EXPECT_FALSE(IsPortOpen());

  const char go = 1;
  ASSERT_EQ(::write(release[1], &go, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);

  ASSERT_EQ(Open9600(), kOk);
  ExpectLineWorks(0x55, 0xAA);
}

TEST_F(SerialPosixTest, AdvisoryLockOfAnotherDescriptorGives201) {
  const int holder = ::open(pty_.Path(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Open9600(), kPortOpenFailed);
  EXPECT_FALSE(IsPortOpen());
  ::close(holder);
  EXPECT_EQ(Open9600(), kOk);
}

#if defined(__linux__)
// Counts the opens of a path through inotify.
class OpenWatch {
 public:
  explicit OpenWatch(const char* path) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) ::inotify_add_watch(fd_, path, IN_OPEN);
  }
  ~OpenWatch() { ::close(fd_); }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;
  int Opens() {
    alignas(inotify_event) char buffer[4096];
    int opens = 0;
    ssize_t got = 0;
    while ((got = ::read(fd_, buffer, sizeof buffer)) > 0) {
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & IN_OPEN) ++opens;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return opens;
  }

 private:
  int fd_ = -1;
};

TEST_F(SerialPosixTest, UnknownParityOrStopBitsGive200WithoutTouchingTheDevice) {
  OpenWatch watch(pty_.Path());
  EXPECT_EQ(OpenPort(pty_.Path(), 9600, 'x', 8, 1.0f), kBadLineSettings);
  EXPECT_EQ(OpenPort(pty_.Path(), 9600, 'n', 8, 3.0f), kBadLineSettings);
  EXPECT_EQ(OpenPort(pty_.Path(), 9600, 'n', 8, 0.0f), kBadLineSettings);
  EXPECT_EQ(OpenPort(pty_.Path(), 9600, 'n', 8, std::nanf("")), kBadLineSettings);
  EXPECT_FALSE(IsPortOpen());
  EXPECT_EQ(watch.Opens(), 0);

  // The watch does see an open; with the port open, 200 still comes first
  // and the port keeps working.
  ASSERT_EQ(Open9600(), kOk);
  EXPECT_EQ(watch.Opens(), 1);
  EXPECT_EQ(OpenPort(pty_.Path(), 9600, '?', 8, 1.0f), kBadLineSettings);
  EXPECT_EQ(watch.Opens(), 0);
  ExpectLineWorks(0x55, 0xAA);
}
#endif

TEST_F(SerialPosixTest, SendWaitsForRoomInAFullOutputQueue) {
  ASSERT_EQ(Open9600(), kOk);
  ASSERT_GT(pty_.FillHostOutput(), 0u);
  std::thread board([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty_.ReadAll();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendByte(0x55), kOk);
  const auto waited = std::chrono::steady_clock::now() - start;
  board.join();
  EXPECT_GE(waited, std::chrono::milliseconds(15));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

volatile sig_atomic_t g_alarms = 0;
extern "C" void CountAlarm(int) {
  g_alarms = g_alarms + 1;
}

// A SIGALRM every millisecond, interrupting system calls (no SA_RESTART).
class PeriodicSignal {
 public:
  PeriodicSignal() {
    struct sigaction action {};
    action.sa_handler = CountAlarm;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, &previous_);
    const itimerval every{{0, 1000}, {0, 1000}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
  }
  ~PeriodicSignal() {
    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &previous_, nullptr);
  }
  PeriodicSignal(const PeriodicSignal&) = delete;
  PeriodicSignal& operator=(const PeriodicSignal&) = delete;

 private:
  struct sigaction previous_ {};
};

TEST_F(SerialPosixTest, SignalsNeitherCutNorStretchTheWaits) {
  ASSERT_EQ(Open9600(), kOk);
  g_alarms = 0;
  {
    PeriodicSignal signals;
    std::uint8_t byte = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveByte(byte), kReadTimeout);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(9));
    EXPECT_LT(waited, std::chrono::milliseconds(100));

    start = std::chrono::steady_clock::now();
    SleepMilliseconds(20);
    waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(19));
    EXPECT_LT(waited, std::chrono::milliseconds(200));

    ExpectLineWorks(0xC0, 0x5A);
  }
  EXPECT_GT(g_alarms, 5);  // the waits really were interrupted
}

TEST_F(SerialPosixTest, HangUpGives210OnReadAnd212OnWrite) {
  ASSERT_EQ(Open9600(), kOk);
  pty_.HangUp();
  std::uint8_t byte = 0;
  EXPECT_EQ(ReceiveByte(byte), kReadFailed);
  EXPECT_EQ(SendByte(0x55), kWriteFailed);
  EXPECT_EQ(DrainReceiveBuffer(), kOk);  // a failed read ends the drain
}

// The fast line changes the rate of the open port; the format stays and the
// rate is read back.
TEST_F(SerialPosixTest, RateOfTheOpenPortChangesAndIsReadBack) {
  EXPECT_EQ(SetPortBaudRate(115200), kPortSetupFailed);  // no port open
  ASSERT_EQ(Open9600(), kOk);

  ASSERT_EQ(SetPortBaudRate(115200), kOk);
  termios line = pty_.HostSettings();
  EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B115200));
  EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u);
  ExpectLineWorks(0x55, 0xAA);
  EXPECT_EQ(SetPortBaudRate(0), kPortSetupFailed);

#if defined(__linux__)
  // A pseudo-terminal takes any rate through termios2 and keeps it, both
  // directions, where the board's end can read it.
  EXPECT_TRUE(PortTakesAnyRate());
  for (const std::uint32_t rate : {312000u, 624000u, 124800u}) {
    SCOPED_TRACE(rate);
    ASSERT_EQ(SetPortBaudRate(rate), kOk);
    std::uint32_t output = 0;
    std::uint32_t input = 0;
    ASSERT_TRUE(pty_.BoardSeesRate(output, input));
    EXPECT_EQ(output, rate);
    EXPECT_EQ(input, rate);
    ExpectLineWorks(0xCB, 0x06);
  }
  // Back to a standard rate: the free input rate must not linger.
  ASSERT_EQ(SetPortBaudRate(9600), kOk);
  std::uint32_t output = 0;
  std::uint32_t input = 0;
  ASSERT_TRUE(pty_.BoardSeesRate(output, input));
  EXPECT_EQ(output, 9600u);
  EXPECT_EQ(input, 9600u);
  line = pty_.HostSettings();
  EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B9600));
#endif
  ClosePort();
  EXPECT_EQ(SetPortBaudRate(9600), kPortSetupFailed);
}

TEST(SerialPosixNames, ComNamesAndDevicePaths) {
  char path[64];
#if defined(__linux__)
  const std::pair<const char*, const char*> mapped[] = {
      {"COM1", "/dev/ttyS0"}, {"com9", "/dev/ttyS8"}, {"Com10", "/dev/ttyS9"}};
  for (const auto& [name, device] : mapped) {
    ASSERT_TRUE(DevicePathForPort(name, path, sizeof path)) << name;
    EXPECT_STREQ(path, device);
  }
  EXPECT_FALSE(DevicePathForPort("COM1", path, 10));  // "/dev/ttyS0" needs 11 bytes
  EXPECT_STREQ(path, "");
#endif
  ASSERT_TRUE(DevicePathForPort("/dev/serial/by-id/usb-x", path, sizeof path));
  EXPECT_STREQ(path, "/dev/serial/by-id/usb-x");

  const char* refused[] = {"", "COM", "COM0", "COM01", "COM1x", "COM257", "ttyUSB0", "LPT1"};
  for (const char* name : refused) {
    EXPECT_FALSE(DevicePathForPort(name, path, sizeof path)) << name;
    EXPECT_STREQ(path, "");
  }
  EXPECT_FALSE(DevicePathForPort(nullptr, path, sizeof path));
  const std::string longPath = "/dev/" + std::string(sizeof path, 'x');
  EXPECT_FALSE(DevicePathForPort(longPath.c_str(), path, sizeof path));
}

}  // namespace
}  // namespace vantor
