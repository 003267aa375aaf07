// The COM ports Windows knows of: the values of the SERIALCOMM device map,
// each naming one port ("COM3").
#if defined(_WIN32)

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "link/port_list.h"

namespace vantor {
namespace {

std::string ToUtf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
  result.resize(static_cast<std::size_t>(size - 1));
  return result;
}

// Orders names by their letters, then by the number at their end, so that
// COM2 comes before COM10.
bool PortNameLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    std::string stem = name.substr(0, digits);
    for (char& c : stem) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    // Leading zeros do not count; a longer number is the larger one.
    std::size_t first = digits;
    while (first + 1 < name.size() && name[first] == '0') ++first;
    return std::make_pair(stem, name.substr(first));
  };
  const auto [stemA, numberA] = split(a);
  const auto [stemB, numberB] = split(b);
  if (stemA != stemB) return stemA < stemB;
  if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
  if (numberA != numberB) return numberA < numberB;
  return a < b;
}

}  // namespace

std::vector<std::string> ListSerialPorts() {
  std::vector<std::string> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return ports;  // no serial port has ever been present
  }
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD valueNameLength = ARRAYSIZE(valueName);
    wchar_t data[256] = {};
    DWORD dataSize = sizeof data - sizeof(wchar_t);  // keeps a terminating zero
    DWORD type = 0;
    const LSTATUS status = RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;  // a value too long to be a port name
    if (type != REG_SZ) continue;
    std::string name = ToUtf8(data);
    if (!name.empty()) ports.push_back(std::move(name));
  }
  RegCloseKey(key);

  std::sort(ports.begin(), ports.end(), PortNameLess);
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

}  // namespace vantor

#endif  // _WIN32
