// The serial ports present on Linux and macOS.
#if !defined(_WIN32)

#include "link/port_list_posix.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <fstream>

#include "link/port_list.h"

namespace vantor {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Orders names with the runs of digits compared as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      std::size_t endA = i;
      std::size_t endB = j;
      while (endA < a.size() && IsDigit(a[endA])) ++endA;
      while (endB < b.size() && IsDigit(b[endB])) ++endB;
      while (i + 1 < endA && a[i] == '0') ++i;  // leading zeros do not count
      while (j + 1 < endB && b[j] == '0') ++j;
      if (endA - i != endB - j) return endA - i < endB - j;
      const int order = a.compare(i, endA - i, b, j, endB - j);
      if (order != 0) return order < 0;
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

// The names in a directory, without "." and "..", in natural order; none
// when it cannot be read.
std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* stream = ::opendir(dir.c_str());
  if (stream == nullptr) return names;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(stream);
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

// True when the path names something (following links).
bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// The serial core registers a port for every possible on-board UART and
// reports type 0 for those where it found none.
bool NoUartBehind(const std::string& ttyDir) {
  std::ifstream type(ttyDir + "/type");
  int value = -1;
  return type >> value && value == 0;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::vector<std::string> ListLinuxSerialPorts(const std::string& devDir,
                                              const std::string& sysClassTtyDir) {
  std::vector<std::string> ports;
  const std::string byId = devDir + "/serial/by-id";
  for (const std::string& name : Entries(byId)) {
    const std::string path = byId + "/" + name;
    if (Exists(path)) ports.push_back(path);  // a dangling link names no port
  }
  for (const std::string& name : Entries(sysClassTtyDir)) {
    if (!StartsWith(name, "tty")) continue;
    const std::string ttyDir = sysClassTtyDir + "/" + name;
    if (!Exists(ttyDir + "/device/driver") || NoUartBehind(ttyDir)) continue;
    const std::string path = devDir + "/" + name;
    if (Exists(path)) ports.push_back(path);
  }
  return ports;
}

std::vector<std::string> ListMacSerialPorts(const std::string& devDir) {
  std::vector<std::string> ports;
  for (const std::string& name : Entries(devDir)) {
    if (StartsWith(name, "cu.")) ports.push_back(devDir + "/" + name);
  }
  return ports;
}

std::vector<std::string> ListSerialPorts() {
#if defined(__APPLE__)
  return ListMacSerialPorts("/dev");
#else
  return ListLinuxSerialPorts("/dev", "/sys/class/tty");
#endif
}

}  // namespace vantor

#endif  // !defined(_WIN32)
