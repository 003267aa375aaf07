// How the serial ports of Linux and macOS are found, with the directories as
// parameters so that a made-up tree can stand in for /dev and /sys.
#pragma once

#if !defined(_WIN32)

#include <string>
#include <vector>

namespace vantor {

// Linux: the links in <devDir>/serial/by-id (names that survive re-plugging),
// then <devDir>/<name> for every tty in <sysClassTtyDir> that a driver has
// claimed (<name>/device/driver exists), leaving out the ports for which the
// serial core found no UART (<name>/type reads 0). Each group in natural
// order (ttyS2 before ttyS10).
std::vector<std::string> ListLinuxSerialPorts(const std::string& devDir,
                                              const std::string& sysClassTtyDir);

// macOS: the call-out devices <devDir>/cu.*, which open without waiting for
// carrier, in natural order.
std::vector<std::string> ListMacSerialPorts(const std::string& devDir);

}  // namespace vantor

#endif
