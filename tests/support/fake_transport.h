// An in-memory serial line for tests: a scripted target on the far end, a
// log of every byte sent, injected failures and a virtual clock.
//
// Time on the fake line is virtual. A read that finds nothing advances the
// clock by one read time-out (10 ms) and returns 211; Sleep(n) advances it by
// n ms. A 1000-read wait or the 30,000-read erase wait therefore costs no real
// time, and its length can be asserted through Now() and the counters.
//
// Bytes reach the host in two ways: queued directly (Queue), or produced by
// the target script, a callback that sees every byte the host sends and may
// queue the answer. A queued byte may carry a number of silent reads: the
// reads that find nothing before it arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/error_code.h"
#include "link/serial_transport.h"

namespace vantor::testing {

using Bytes = std::vector<std::uint8_t>;

class FakeTransport : public SerialTransport {
 public:
  // Called after each byte the host sent successfully; `line` is this fake.
  using TargetScript = std::function<void(std::uint8_t sent, FakeTransport& line)>;

  inline static constexpr unsigned kReadTimeoutMs = 10;

  // --- the far end --------------------------------------------------------
  // Queues bytes for the host to read. The first byte arrives only after
  // `silentReads` reads have found nothing; the others follow at once.
  void Queue(std::initializer_list<std::uint8_t> bytes, unsigned silentReads = 0);
  void Queue(const std::vector<std::uint8_t>& bytes, unsigned silentReads = 0);
  void Queue(std::uint8_t byte, unsigned silentReads = 0);

  // Answers `bytes` once the host has sent its byte number `sentIndex`
  // (counting from 0 over the bytes that went out), after whatever the
  // script queued for that byte.
  void ReplyAfterSend(std::size_t sentIndex, std::vector<std::uint8_t> bytes,
                      unsigned silentReads = 0);

  // The target: sees every byte sent after the byte is logged.
  void SetScript(TargetScript script) { script_ = std::move(script); }

  // Every read from now on delivers `byte` (a line that never pauses).
  void FeedEndlessly(std::uint8_t byte) { endless_ = byte; }
  void StopFeeding() { endless_.reset(); }

  // --- injected failures ------------------------------------------------------
  // The send attempt number `attempt` (counting from 0 over every call to
  // Write, failed or not) fails with `code`: kWriteFailed or kWriteTimeout.
  // A failed byte is not logged and not seen by the script.
  void FailSend(std::size_t attempt, ErrorCode code);
  // The read number `read` (counting from 0 over every call to Read) fails
  // with kReadFailed. A failed read costs no virtual time.
  void FailRead(std::size_t read);
  // Every read from number `read` on fails (a hung-up line).
  void FailReadsFrom(std::size_t read) { failReadsFrom_ = read; }

  // What Open returns: 0, kPortOpenFailed or kPortSetupFailed.
  void SetOpenResult(ErrorCode code) { openResult_ = code; }

  // --- bit rates ----------------------------------------------------------------
  // Without free rates the line takes the standard rates 1200 ... 921600
  // only, as a driver without BOTHER or BAUD_USER does.
  void SetTakesAnyRate(bool any) { anyRate_ = any; }
  // SetBaudRate refuses this rate (the rate stays as it was).
  void RefuseRate(std::uint32_t rate) { refusedRates_.push_back(rate); }
  // Every rate SetBaudRate was asked for, refused or not, in order.
  const std::vector<std::uint32_t>& RateRequests() const { return rateRequests_; }

  // --- what happened ----------------------------------------------------------
  const std::vector<std::uint8_t>& Sent() const { return sent_; }
  std::size_t SendAttempts() const { return sendAttempts_; }
  std::size_t Reads() const { return reads_; }              // every call to Read
  std::size_t Misses() const { return misses_; }            // reads that found nothing (211)
  std::size_t FailedReads() const { return failedReads_; }  // reads that failed (210)
  std::size_t Sleeps() const { return sleeps_; }            // calls to Sleep
  std::uint64_t Now() const { return nowMs_; }              // virtual milliseconds
  std::size_t Pending() const;                              // bytes queued, not yet read
  bool IsOpen() const { return open_; }
  std::size_t OpenCount() const { return openCount_; }
  std::size_t CloseCount() const { return closeCount_; }
  const std::string& PortName() const { return portName_; }
  const LineSettings& Settings() const { return settings_; }

  // Forgets the log and the counters (not the queue, script or failures).
  void ClearLog();

  // --- SerialTransport --------------------------------------------------------
  ErrorCode Open(const char* portName, const LineSettings& settings) override;
  void Close() override;
  ErrorCode Write(std::uint8_t byte) override;
  ErrorCode Read(std::uint8_t& byte) override;
  void Sleep(unsigned milliseconds) override;
  ErrorCode SetBaudRate(std::uint32_t baudRate) override;
  bool TakesAnyRate() const override { return anyRate_; }

 private:
  struct Arrival {
    std::uint8_t byte;
    unsigned silentReads;
  };

  std::deque<Arrival> incoming_;
  std::map<std::size_t, std::pair<std::vector<std::uint8_t>, unsigned>> repliesAfterSend_;
  TargetScript script_;
  std::optional<std::uint8_t> endless_;
  std::map<std::size_t, ErrorCode> sendFailures_;
  std::vector<std::size_t> readFailures_;
  std::optional<std::size_t> failReadsFrom_;
  ErrorCode openResult_ = kOk;
  bool anyRate_ = false;
  std::vector<std::uint32_t> refusedRates_;
  std::vector<std::uint32_t> rateRequests_;

  std::vector<std::uint8_t> sent_;
  std::size_t sendAttempts_ = 0;
  std::size_t reads_ = 0;
  std::size_t misses_ = 0;
  std::size_t failedReads_ = 0;
  std::size_t sleeps_ = 0;
  std::uint64_t nowMs_ = 0;
  bool open_ = false;
  std::size_t openCount_ = 0;
  std::size_t closeCount_ = 0;
  std::string portName_;
  LineSettings settings_;
};

// Puts a fake line behind the serial link for the life of the guard: installs
// a transport selector that hands out `line` for every port name, and opens
// the link ("fake", 9600, 'n', 8, 1.0) unless told not to. The destructor
// closes the link and restores the default selector.
class FakeLineGuard {
 public:
  explicit FakeLineGuard(FakeTransport& line, bool open = true);
  ~FakeLineGuard();
  FakeLineGuard(const FakeLineGuard&) = delete;
  FakeLineGuard& operator=(const FakeLineGuard&) = delete;

  // What OpenPort returned (kOk when the guard did not open the link).
  ErrorCode OpenResult() const { return openResult_; }

 private:
  ErrorCode openResult_ = kOk;
  bool anyRate_ = false;
  std::vector<std::uint32_t> refusedRates_;
  std::vector<std::uint32_t> rateRequests_;
};

// A fake line behind the serial link, opened, for as long as it lives: the
// usual start of a protocol test, whose far end the test queues or scripts.
class OpenedFakeLine : public FakeTransport {
 private:
  FakeLineGuard guard_{*this};
};

}  // namespace vantor::testing
