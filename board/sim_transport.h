// Port name "sim": the serial link's back end for a virtual board in the
// same process. A read that finds nothing runs the board for up to 10 ms of
// emulated time (returning as soon as a byte arrives), so the host's waits
// cost no wall time; opening the port powers the board on in boot mode.
#pragma once

#include <cstdint>
#include <string>

#include <vector>

#include "board/h8s2215_chip.h"
#include "board/line_faults.h"
#include "link/serial_transport.h"

namespace vantor::board {

inline constexpr const char* kSimPortName = "sim";

// A TransportSelector: the board for "sim", the platform's serial back end
// for every other name. Install with SetTransportSelector(SimTransportFor).
SerialTransport* SimTransportFor(const char* portName);

// The board's settings, taken at the next open of "sim".
void SetSimBoardClock(std::uint32_t clockHz);
void SetSimBoardLoadAddress(std::uint32_t address);
// Where the flash is saved each time the port closes; empty for nowhere.
void SetSimBoardDump(const std::string& path);
// Faults on the line, counted afresh after each power-on (board/line_faults.h);
// an empty list for a clean line.
void SetSimBoardLineFaults(std::vector<LineFault> faults);
// The faults' byte counts since the last open, for tests.
const LineFaults& SimBoardLineFaults();

// The board behind "sim" (made on first use), for tests and reports.
H8s2215Chip& SimBoard();
// Throws the board away; the next use makes a fresh one (blank flash).
void ResetSimBoard();

}  // namespace vantor::board
