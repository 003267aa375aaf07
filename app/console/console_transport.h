// The console program's serial line: whatever back end the port name calls
// for, wrapped so that an interrupt stops the traffic between two bytes and,
// with --verbose, every byte on the line is traced in hex.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/serial_transport.h"

namespace vantor {

// Whether "sim" names a virtual board built into this program.
bool SimBoardBuiltIn();

// Settings of the virtual board for its next open: clock in hertz (0 keeps
// the default) and where its flash is saved when the port closes (empty for
// nowhere). Nothing when the board is not built in.
void ConfigureSimBoard(std::uint32_t clockHz, const std::string& dumpPath);

// Faults on the virtual board's line (board/line_faults.h for FAULT), for its
// next opens. False with the reason in `error` for a FAULT that does not
// read, or when the board is not built in.
bool ConfigureSimLineFaults(const std::vector<std::string>& texts, std::string& error);

// Installs the console's transport selector. `trace`: where the hex trace
// goes, nullptr for none.
void InstallConsoleTransport(std::FILE* trace);

// Writes out the bytes of the trace not yet printed.
void FlushLineTrace();

// Whether the last port refused was "sim" in a build without the board.
bool SimWasRefused();

// The emulated time, in seconds, that the virtual board ran between the last
// open of "sim" and now, and the board's clock. False when "sim" was not
// opened.
bool SimEmulatedTime(double& seconds, double& clockHz);
// True when the write went to the virtual board and its flash controller
// recorded breaches of the programming procedure; `report` lists them.
bool SimFlashViolations(std::string& report);

// The wrapper, usable on its own in tests.
class ConsoleTransport : public SerialTransport {
 public:
  // `inner` carries the bytes; `trace` receives the hex trace, or nullptr.
  void Attach(SerialTransport* inner, std::FILE* trace);
  void Flush();

  ErrorCode Open(const char* portName, const LineSettings& settings) override;
  void Close() override;
  ErrorCode Write(std::uint8_t byte) override;
  ErrorCode Read(std::uint8_t& byte) override;
  void Sleep(unsigned milliseconds) override;
  ErrorCode SetBaudRate(std::uint32_t baudRate) override;
  bool TakesAnyRate() const override;

 private:
  void Trace(char direction, std::uint8_t byte);

  SerialTransport* inner_ = nullptr;
  std::FILE* trace_ = nullptr;
  char direction_ = 0;        // '>' host to target, '<' target to host
  std::uint8_t pending_[16];  // bytes of the trace line being built
  unsigned pendingCount_ = 0;
};

}  // namespace vantor
