// The POSIX serial back end (termios), for Linux and macOS.
//
// Port names: a name that starts with "/" is the path of the device
// (/dev/ttyUSB0, /dev/serial/by-id/..., /dev/cu.usbserial-..., a
// pseudo-terminal). On Linux "COM1", "COM2", ... (either case) name the
// on-board UARTs /dev/ttyS0, /dev/ttyS1, ..., so the names of the Windows
// dialog keep working. macOS has no numbered on-board UARTs, so there a COM
// name names no device: give the /dev/cu.* path that --list-ports shows.
#pragma once

#if !defined(_WIN32)

#include <cstddef>
#include <cstdint>

namespace vantor {

// Writes into `path` the device path that `portName` stands for. False, with
// `path` left empty, when the name stands for no device on this platform or
// the path does not fit into `size` bytes.
bool DevicePathForPort(const char* portName, char* path, std::size_t size);

// Rates outside the termios speed codes (serial_posix_any_rate.cpp).
// Whether this system's serial drivers can be given any rate at all (Linux:
// termios2 with BOTHER; macOS: IOSSIOSPEED); a driver may still refuse one.
bool DriverTakesAnyRate();
// Sets input and output rate of the terminal `fd` to `rate` and reads it
// back; false when the driver refused it or reports another rate.
bool SetAnyLineRate(int fd, std::uint32_t rate);
// The output rate (and, if asked, the input rate) the terminal `fd` runs
// at, whatever way it was set. On Linux a pseudo-terminal's two ends share
// one setting, so the master side reads what the program on the slave side
// set.
bool ReadLineRate(int fd, std::uint32_t& rate, std::uint32_t* inputRate = nullptr);

}  // namespace vantor

#endif
