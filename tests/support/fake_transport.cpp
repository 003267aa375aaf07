#include "tests/support/fake_transport.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "link/serial_link.h"

namespace vantor::testing {

void FakeTransport::Queue(std::initializer_list<std::uint8_t> bytes, unsigned silentReads) {
  Queue(std::vector<std::uint8_t>(bytes), silentReads);
}

void FakeTransport::Queue(const std::vector<std::uint8_t>& bytes, unsigned silentReads) {
  bool first = true;
  for (std::uint8_t b : bytes) {
    incoming_.push_back({b, first ? silentReads : 0});
    first = false;
  }
}

void FakeTransport::Queue(std::uint8_t byte, unsigned silentReads) {
  incoming_.push_back({byte, silentReads});
}

void FakeTransport::ReplyAfterSend(std::size_t sentIndex, std::vector<std::uint8_t> bytes,
                                   unsigned silentReads) {
  repliesAfterSend_[sentIndex] = {std::move(bytes), silentReads};
}

void FakeTransport::FailSend(std::size_t attempt, ErrorCode code) {
  sendFailures_[attempt] = code;
}

void FakeTransport::FailRead(std::size_t read) {
  readFailures_.push_back(read);
}

std::size_t FakeTransport::Pending() const {
  return incoming_.size();
}

void FakeTransport::ClearLog() {
  sent_.clear();
  sendAttempts_ = 0;
  reads_ = 0;
  misses_ = 0;
  failedReads_ = 0;
  sleeps_ = 0;
  nowMs_ = 0;
}

ErrorCode FakeTransport::Open(const char* portName, const LineSettings& settings) {
  portName_ = portName != nullptr ? portName : "";
  settings_ = settings;
  if (openResult_ == kPortOpenFailed) return openResult_;
  open_ = true;
  ++openCount_;
  return openResult_;
}

void FakeTransport::Close() {
  if (open_) ++closeCount_;
  open_ = false;
}

ErrorCode FakeTransport::Write(std::uint8_t byte) {
  const std::size_t attempt = sendAttempts_++;
  if (!open_) return kWriteFailed;
  if (auto failure = sendFailures_.find(attempt); failure != sendFailures_.end()) {
    return failure->second;
  }
  const std::size_t index = sent_.size();
  sent_.push_back(byte);
  if (script_) script_(byte, *this);
  if (auto reply = repliesAfterSend_.find(index); reply != repliesAfterSend_.end()) {
    Queue(reply->second.first, reply->second.second);
  }
  return kOk;
}

ErrorCode FakeTransport::Read(std::uint8_t& byte) {
  const std::size_t read = reads_++;
  const bool injected =
      std::find(readFailures_.begin(), readFailures_.end(), read) != readFailures_.end();
  if (!open_ || injected || (failReadsFrom_ && read >= *failReadsFrom_)) {
    ++failedReads_;
    return kReadFailed;
  }
  if (endless_) {
    byte = *endless_;
    return kOk;
  }
  if (!incoming_.empty()) {
    Arrival& next = incoming_.front();
    if (next.silentReads == 0) {
      byte = next.byte;
      incoming_.pop_front();
      return kOk;
    }
    --next.silentReads;
  }
  ++misses_;
  nowMs_ += kReadTimeoutMs;
  return kReadTimeout;
}

ErrorCode FakeTransport::SetBaudRate(std::uint32_t baudRate) {
  rateRequests_.push_back(baudRate);
  constexpr std::uint32_t kStandard[] = {1200,  2400,   4800,   9600,   19200, 38400,
                                         57600, 115200, 230400, 460800, 921600};
  const bool standard =
      std::find(std::begin(kStandard), std::end(kStandard), baudRate) != std::end(kStandard);
  const bool refused =
      std::find(refusedRates_.begin(), refusedRates_.end(), baudRate) != refusedRates_.end();
  if (!open_ || baudRate == 0 || refused || (!standard && !anyRate_)) return kPortSetupFailed;
  settings_.baudRate = baudRate;
  return kOk;
}

void FakeTransport::Sleep(unsigned milliseconds) {
  ++sleeps_;
  nowMs_ += milliseconds;
}

namespace {

FakeTransport* g_fake = nullptr;

SerialTransport* SelectFake(const char* /*portName*/) {
  return g_fake;
}

}  // namespace

FakeLineGuard::FakeLineGuard(FakeTransport& line, bool open) {
  ClosePort();
  g_fake = &line;
  SetTransportSelector(&SelectFake);
  if (open) openResult_ = OpenPort("fake", 9600, 'n', 8, 1.0f);
}

FakeLineGuard::~FakeLineGuard() {
  ClosePort();
  SetTransportSelector(nullptr);
  g_fake = nullptr;
}

}  // namespace vantor::testing
