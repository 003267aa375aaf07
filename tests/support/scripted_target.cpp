#include "tests/support/scripted_target.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
namespace vantor::testing {
namespace {

template <typename Predicate>
bool WaitUntil(Predicate done, unsigned timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

ScriptedTarget::ScriptedTarget() {
  chip_.SetOutput([this](const std::uint8_t* bytes, std::size_t count, unsigned delayMs) {
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    Write(bytes, count);
  });
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    std::fprintf(stderr, "scripted target: no pseudo-terminal: %s\n", std::strerror(errno));
    std::abort();
  }
  const char* name = ptsname(master_);
  if (name == nullptr) std::abort();
  slavePath_ = name;
  // A master whose slave was never opened reports no hang-up, so the first
  // poll would count a session before any host came. Opening and closing the
  // slave once makes it report the hang-up until a host opens it.
  const int slave = open(name, O_RDWR | O_NOCTTY);
  if (slave < 0) std::abort();
  close(slave);
}

ScriptedTarget::~ScriptedTarget() {
  Stop();
  if (master_ >= 0) close(master_);
}

void ScriptedTarget::Start() {
  thread_ = std::thread([this] { Run(); });
}

void ScriptedTarget::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void ScriptedTarget::Write(const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t put = write(master_, bytes, count);
    if (put < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;  // the host went away
    }
    bytes += put;
    count -= static_cast<std::size_t>(put);
  }
}

void ScriptedTarget::Run() {
  // The master reports a hang-up while no process has the slave open; the
  // first moment without one after a hang-up is a new session (power on).
  while (!stop_) {
    pollfd pfd{master_, POLLIN, 0};
    const int ready = poll(&pfd, 1, 5);
    if (ready < 0 && errno != EINTR) return;
    const bool hungUp = ready > 0 && (pfd.revents & POLLHUP) != 0 && (pfd.revents & POLLIN) == 0;
    if (hungUp) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    bool newSession = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!connected_) {
        connected_ = true;
        ++sessions_;
        newSession = true;
      }
    }
    if (newSession) chip_.PowerOn();
    if (ready <= 0) continue;

    std::uint8_t buffer[512];
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) continue;  // EIO: the slave closed between poll and read
    for (ssize_t i = 0; i < got; ++i) chip_.OnByte(buffer[i]);
  }
}

std::size_t ScriptedTarget::Sessions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_;
}

bool ScriptedTarget::HostConnected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

bool ScriptedTarget::WaitForBlocks(std::size_t count, unsigned timeoutMs) const {
  return WaitUntil([&] { return chip_.BlocksReceived() >= count; }, timeoutMs);
}

bool ScriptedTarget::WaitForHangUp(unsigned timeoutMs) const {
  return WaitUntil([&] { return !HostConnected(); }, timeoutMs);
}

}  // namespace vantor::testing
#endif  // !_WIN32
