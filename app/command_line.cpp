#include "app/command_line.h"

#include <cstring>

#include "app/operator_panel.h"

namespace vantor {

const char* SkipProgramName(const char* commandLine) {
  const auto* at = reinterpret_cast<const unsigned char*>(commandLine);
  if (*at == '"') {
    ++at;
    while (*at != '\0' && *at != '"') ++at;
    if (*at == '"') ++at;
  } else {
    while (*at > ' ') ++at;
  }
  while (*at != '\0' && *at <= ' ') ++at;
  return reinterpret_cast<const char*>(at);
}

StartupSplit SplitStartupArguments(const char* arguments) {
  StartupSplit split;
  const char* blank = std::strchr(arguments, ' ');
  const std::size_t fileLength =
      blank != nullptr ? static_cast<std::size_t>(blank - arguments) : std::strlen(arguments);
  split.fileRefused =
      StoreFieldText(arguments, fileLength, g_filePath, sizeof g_filePath) == kFieldTooLong;
  if (blank != nullptr) {
    split.portRefused = StoreFieldText(blank + 1, std::strlen(blank + 1), g_portName,
                                       sizeof g_portName) == kFieldTooLong;
  } else {
    g_portName[0] = '\0';
  }
  return split;
}

}  // namespace vantor
