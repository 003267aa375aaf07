// The dialog program's serial line: the COM port, or the virtual board for
// port name "sim", wrapped so that the window keeps answering the system
// while a write waits for the target.
#pragma once

#include "link/serial_transport.h"

namespace vantor::win32 {

// Installs the selector: "sim" is the virtual board (when built in), every
// other name the Win32 serial back end. When the environment variable
// VANTOR_SIM_DUMP names a file, the virtual board saves its flash there
// each time the port closes.
void InstallDialogTransport();

// Lets the system see that the window's thread is alive: looks at the
// message queue without taking anything from it. Messages other programs
// send to the window are handled here; posted ones (clicks, keys) stay
// queued until the write is over.
void KeepAlive();

// The same, at most every 200 ms, for the line's waits.
void KeepAliveEvery200Ms();

}  // namespace vantor::win32
