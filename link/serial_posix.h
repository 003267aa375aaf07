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

namespace vantor {

// Writes into `path` the device path that `portName` stands for. False, with
// `path` left empty, when the name stands for no device on this platform or
// the path does not fit into `size` bytes.
bool DevicePathForPort(const char* portName, char* path, std::size_t size);

}  // namespace vantor

#endif
