// A stand-in for the chip on the far end of a pseudo-terminal: the
// ChipPlayer (tests/support/chip_player.h), whose image of the flash lets a
// test compare what arrived with what was loaded.
//
// The target runs in its own thread on the master side; the program under
// test opens SlavePath() with its real serial code. Each time the host closes
// the slave the target goes back to boot mode, as a board does when it is
// switched off and on again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/chip_player.h"

namespace vantor::testing {

#if !defined(_WIN32)
// A ChipPlayer on the master side of a new pseudo-terminal, served by its
// own thread. Each time the host opens the slave after it was closed the chip
// is powered on again.
class ScriptedTarget {
 public:
  // Opens the master; aborts the test binary when the system has no
  // pseudo-terminals.
  ScriptedTarget();
  ~ScriptedTarget();
  ScriptedTarget(const ScriptedTarget&) = delete;
  ScriptedTarget& operator=(const ScriptedTarget&) = delete;

  // The device the host opens, e.g. "/dev/pts/7".
  const std::string& SlavePath() const { return slavePath_; }

  ChipPlayer& Chip() { return chip_; }
  const ChipPlayer& Chip() const { return chip_; }

  void Start();
  void Stop();

  std::size_t Sessions() const;  // times the host opened the slave
  bool HostConnected() const;    // the slave is open right now

  // Waits up to `timeoutMs` real milliseconds.
  bool WaitForBlocks(std::size_t count, unsigned timeoutMs) const;
  bool WaitForHangUp(unsigned timeoutMs) const;

 private:
  void Run();
  void Write(const std::uint8_t* bytes, std::size_t count);

  int master_ = -1;
  std::string slavePath_;
  ChipPlayer chip_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::size_t sessions_ = 0;
  bool connected_ = false;
};
#endif  // !_WIN32

}  // namespace vantor::testing
