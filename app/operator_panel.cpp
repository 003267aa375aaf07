#include "app/operator_panel.h"

#include <cstring>

namespace vantor {

char g_filePath[kFilePathCapacity] = {};
char g_portName[kPortNameCapacity] = {};

int StoreFieldText(const char* text, std::size_t length, char* buffer, std::size_t capacity) {
  if (capacity == 0) return kFieldTooLong;
  std::size_t used = 0;
  while (used < length && text[used] != '\0') ++used;
  if (used >= capacity) {
    buffer[0] = '\0';
    return kFieldTooLong;
  }
  std::memcpy(buffer, text, used);
  buffer[used] = '\0';
  return static_cast<int>(used);
}

}  // namespace vantor
