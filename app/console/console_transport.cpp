#include "app/console/console_transport.h"

#include <cstring>

#include "app/console/interrupt.h"

#ifdef VANTOR_HAS_SIM_BOARD
#include "board/sim_transport.h"
#endif

namespace vantor {
namespace {

ConsoleTransport g_console;
std::FILE* g_trace = nullptr;
bool g_simRefused = false;
bool g_simOpened = false;
std::uint64_t g_simStartStates = 0;
std::size_t g_simViolationsBefore = 0;

SerialTransport* SelectConsoleTransport(const char* portName) {
  g_simRefused = false;
  g_simOpened = false;
  SerialTransport* inner = nullptr;
  if (std::strcmp(portName, "sim") == 0) {
#ifdef VANTOR_HAS_SIM_BOARD
    inner = board::SimTransportFor(portName);
    g_simOpened = inner != nullptr;
    g_simStartStates = board::SimBoard().Now();
    g_simViolationsBefore = board::SimBoard().Flash().Violations().size();
#endif
    if (inner == nullptr) {
      g_simRefused = true;
      return nullptr;  // the link reports 201
    }
  } else {
    inner = &PlatformTransport();
  }
  g_console.Attach(inner, g_trace);
  return &g_console;
}

}  // namespace

bool SimBoardBuiltIn() {
#ifdef VANTOR_HAS_SIM_BOARD
  return true;
#else
  return false;
#endif
}

void ConfigureSimBoard(std::uint32_t clockHz, const std::string& dumpPath) {
#ifdef VANTOR_HAS_SIM_BOARD
  if (clockHz != 0) board::SetSimBoardClock(clockHz);
  board::SetSimBoardDump(dumpPath);
#else
  static_cast<void>(clockHz);
  static_cast<void>(dumpPath);
#endif
}

bool ConfigureSimLineFaults(const std::vector<std::string>& texts, std::string& error) {
#ifdef VANTOR_HAS_SIM_BOARD
  std::vector<board::LineFault> faults;
  for (const std::string& text : texts) {
    board::LineFault fault;
    if (!board::ParseLineFault(text, fault, error)) return false;
    faults.push_back(fault);
  }
  board::SetSimBoardLineFaults(std::move(faults));
  return true;
#else
  if (texts.empty()) return true;
  error = "the virtual board \"sim\" is not built into this program";
  return false;
#endif
}

void InstallConsoleTransport(std::FILE* trace) {
  g_trace = trace;
  SetTransportSelector(SelectConsoleTransport);
}

void FlushLineTrace() {
  g_console.Flush();
}

bool SimWasRefused() {
  return g_simRefused;
}

bool SimEmulatedTime(double& seconds, double& clockHz) {
#ifdef VANTOR_HAS_SIM_BOARD
  if (g_simOpened) {
    const board::Scheduler& clock = board::SimBoard().Clock();
    clockHz = clock.clockHz();
    seconds = static_cast<double>(clock.now() - g_simStartStates) / clockHz;
    return true;
  }
#endif
  static_cast<void>(seconds);
  static_cast<void>(clockHz);
  return false;
}

bool SimFlashViolations(std::string& report) {
#ifdef VANTOR_HAS_SIM_BOARD
  if (g_simOpened) {
    const board::FlashController& flash = board::SimBoard().Flash();
    if (flash.Violations().size() > g_simViolationsBefore) {
      report = flash.Report(g_simViolationsBefore);
      return true;
    }
  }
#endif
  static_cast<void>(report);
  return false;
}

void ConsoleTransport::Attach(SerialTransport* inner, std::FILE* trace) {
  inner_ = inner;
  trace_ = trace;
  direction_ = 0;
  pendingCount_ = 0;
}

void ConsoleTransport::Flush() {
  if (trace_ == nullptr || pendingCount_ == 0) return;
  std::fputc(direction_, trace_);
  for (unsigned i = 0; i < pendingCount_; ++i) std::fprintf(trace_, " %02X", pending_[i]);
  std::fputc('\n', trace_);
  std::fflush(trace_);
  pendingCount_ = 0;
}

void ConsoleTransport::Trace(char direction, std::uint8_t byte) {
  if (trace_ == nullptr) return;
  if (direction != direction_ || pendingCount_ == sizeof pending_) Flush();
  direction_ = direction;
  pending_[pendingCount_++] = byte;
}

ErrorCode ConsoleTransport::Open(const char* portName, const LineSettings& settings) {
  if (InterruptRequested()) return kPortOpenFailed;
  return inner_->Open(portName, settings);
}

void ConsoleTransport::Close() {
  Flush();
  inner_->Close();
}

// After an interrupt nothing more goes out or is waited for: every
// operation fails at once and the write ends on its failure path.
ErrorCode ConsoleTransport::Write(std::uint8_t byte) {
  if (InterruptRequested()) return kWriteFailed;
  const ErrorCode code = inner_->Write(byte);
  if (code == kOk) Trace('>', byte);
  return code;
}

ErrorCode ConsoleTransport::Read(std::uint8_t& byte) {
  if (InterruptRequested()) return kReadFailed;
  const ErrorCode code = inner_->Read(byte);
  if (code == kOk) Trace('<', byte);
  return code;
}

void ConsoleTransport::Sleep(unsigned milliseconds) {
  if (InterruptRequested()) return;
  inner_->Sleep(milliseconds);
}

}  // namespace vantor

namespace vantor {

ErrorCode ConsoleTransport::SetBaudRate(std::uint32_t baudRate) {
  if (InterruptRequested()) return kPortSetupFailed;
  Flush();  // the trace shows the bytes of each rate apart
  return inner_->SetBaudRate(baudRate);
}

bool ConsoleTransport::TakesAnyRate() const {
  return inner_->TakesAnyRate();
}

}  // namespace vantor
