// The Win32 serial back end's own parts: the line settings and time-outs it
// gives a COM port, and the handle of the port it holds. The link itself is
// reached through serial_link.h; this header is for diagnostics and tests.
#pragma once

#if defined(_WIN32)

#include <windows.h>

#include "link/serial_transport.h"

namespace vantor {

// The DCB the back end applies, filled from nothing but `settings`: binary
// mode, parity checking whenever a parity is chosen, no flow control of any
// kind, DTR off, RTS on, transmission continuing after XOFF, every special
// character and limit zero.
DCB MakeLineDcb(const LineSettings& settings);

// The time-outs the back end applies: a one-byte read waits at most 10 ms,
// a one-byte write at most 1000 ms.
COMMTIMEOUTS MakeLineTimeouts();

// The handle of the port the back end holds; INVALID_HANDLE_VALUE while it
// holds none.
HANDLE Win32PortHandle();

}  // namespace vantor

#endif  // _WIN32
