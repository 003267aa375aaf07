// Ctrl-C during a write: the handlers only raise a flag; the serial line
// checks it between bytes, so the write ends through its ordinary failure
// path and the port is closed before the program exits.
#pragma once

namespace vantor {

// SIGINT and SIGTERM on POSIX systems; Ctrl-C and Ctrl-Break on Windows.
void InstallInterruptHandlers();

// Whether an interrupt has arrived since the start (or the last clear).
bool InterruptRequested();

// Raises the flag as the handlers do, and clears it again (for tests).
void RequestInterrupt();
void ClearInterrupt();

}  // namespace vantor
