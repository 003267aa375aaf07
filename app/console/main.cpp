// vantor (vantor-cli.exe on Windows): the console front end.
#include <cstdio>
#include <string>
#include <vector>

#include "app/console/console_app.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// After windows.h.
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  vantor::ConsoleStreams streams;
  streams.errIsTerminal = IsTerminal(stderr);
  streams.inIsTerminal = IsTerminal(stdin);

#ifdef _WIN32
  // The arguments as UTF-8, whatever the ANSI code page; the texts go to the
  // console as UTF-8 too.
  SetConsoleOutputCP(CP_UTF8);
  static_cast<void>(argc);
  static_cast<void>(argv);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> texts;
  for (int i = 0; wide != nullptr && i < count; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(bytes > 0 ? static_cast<std::size_t>(bytes - 1) : 0, '\0');
    if (bytes > 1)
      WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), bytes, nullptr, nullptr);
    texts.push_back(std::move(text));
  }
  if (wide != nullptr) LocalFree(wide);
  std::vector<const char*> args;
  for (const std::string& text : texts) args.push_back(text.c_str());
  return vantor::RunConsole(static_cast<int>(args.size()), args.data(), streams);
#else
  return vantor::RunConsole(argc, argv, streams);
#endif
}
