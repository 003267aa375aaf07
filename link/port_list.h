// The serial ports present on this machine, for --list-ports and the dialog.
#pragma once

#include <string>
#include <vector>

namespace vantor {

// Names the user can give as the port: "COM3" on Windows; device paths on
// Linux and macOS (by-id links first, then /dev/tty* devices with a driver).
std::vector<std::string> ListSerialPorts();

}  // namespace vantor
