#include "app/console/console_panel.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "app/console/console_transport.h"
#include "app/console/interrupt.h"
#include "app/console/progress_line.h"
#include "app/write_operation.h"

namespace vantor {
namespace {

// Width of the terminal behind `stream`; 80 when it cannot be told.
unsigned TerminalColumns(std::FILE* stream) {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (GetConsoleScreenBufferInfo(handle, &info) != 0) {
    return static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
  }
#else
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  return 80;
}

}  // namespace

ConsolePanel::ConsolePanel(const ConsoleStreams& streams, const ConsolePanelSettings& settings)
    : streams_(streams), settings_(settings) {}

void ConsolePanel::SetFields(std::string file, std::string port) {
  fileField_ = std::move(file);
  portField_ = std::move(port);
}

int ConsolePanel::ReadFileField() {
  return StoreFieldText(fileField_.data(), fileField_.size(), g_filePath, sizeof g_filePath);
}

void ConsolePanel::ClearFileField() {
  fileField_.clear();
}

int ConsolePanel::ReadPortField() {
  return StoreFieldText(portField_.data(), portField_.size(), g_portName, sizeof g_portName);
}

void ConsolePanel::ShowStatus(const char* text) {
  FlushLineTrace();
  // The status after the last block: the bar is shown full before it ends.
  if (progressShown_ && !failed_) DrawProgress(blocksTotal_, blocksTotal_, 0, false);
  EndProgressLine();
  if (failed_) {
    std::fprintf(streams_.err, "%s\n", text);
    std::fflush(streams_.err);
    return;
  }
  if (settings_.quiet) return;
  std::fprintf(streams_.out, "%s\n", text);
  std::fflush(streams_.out);
}

// Warnings go with the errors, so that --quiet keeps them.
void ConsolePanel::ShowWarning(const char* text) {
  FlushLineTrace();
  EndProgressLine();
  std::fprintf(streams_.err, "%s\n", text);
  std::fflush(streams_.err);
}

void ConsolePanel::ShowPrompt(const char* text) {
  FlushLineTrace();
  EndProgressLine();
  if (settings_.assumeYes) {
    if (!settings_.quiet) {
      std::fprintf(streams_.out, "%s [--yes]\n", text);
      std::fflush(streams_.out);
    }
    return;
  }
  std::fprintf(streams_.out, "%s [Enter] ", text);
  std::fflush(streams_.out);
  // Enter, the end of the input and an interrupt all end the wait.
  bool echoed = false;
  for (;;) {
    if (InterruptRequested()) break;
    errno = 0;
    const int c = std::fgetc(streams_.in);
    if (c == '\n') {
      echoed = streams_.inIsTerminal;
      break;
    }
    if (c == EOF) {
      if (errno == EINTR && !InterruptRequested()) {
        std::clearerr(streams_.in);
        continue;
      }
      break;
    }
  }
  if (!echoed) std::fputc('\n', streams_.out);
  std::fflush(streams_.out);
}

void ConsolePanel::ShowErrorBox(const char* message) {
  FlushLineTrace();
  EndProgressLine();
  failed_ = true;
  if (InterruptRequested()) {
    reportedInterrupt_ = true;
    std::fprintf(streams_.err, "vantor: interrupted: the write was stopped and the port closed\n");
  } else {
    std::fprintf(streams_.err, "%s\n", message);
    if (SimWasRefused()) {
      std::fprintf(streams_.err,
                   "vantor: the virtual board \"sim\" is not built into this program\n");
    }
  }
  std::fflush(streams_.err);
}

void ConsolePanel::ShowBlockStatus(const char* text, const BlockProgress& progress) {
  if (!streams_.errIsTerminal || settings_.quiet) {
    ShowStatus(text);
    return;
  }
  FlushLineTrace();
  if (progress.blocksDone == 0) {
    blocksStart_ = std::chrono::steady_clock::now();
    blocksTotal_ = progress.blocksTotal;
    lineRate_ = progress.lineRate;
  }
  static_cast<void>(text);  // the line shows the address in ASCII
  DrawProgress(progress.blocksDone, progress.blocksTotal, progress.address, true);
}

void ConsolePanel::DrawProgress(unsigned blocksDone, unsigned blocksTotal, std::uint32_t address,
                                bool hasAddress) {
  ProgressFigures figures;
  figures.address = address;
  figures.hasAddress = hasAddress;
  figures.blocksDone = blocksDone;
  figures.blocksTotal = blocksTotal;
  figures.lineRate = lineRate_;
  figures.elapsedSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - blocksStart_).count();
  // Carriage return, the line, then clear to the end of the line.
  const std::string line = FormatProgressLine(figures, TerminalColumns(streams_.err));
  std::fprintf(streams_.err, "\r%s\x1b[K", line.c_str());
  std::fflush(streams_.err);
  progressShown_ = true;
}

void ConsolePanel::EndProgressLine() {
  if (!progressShown_) return;
  progressShown_ = false;
  std::fputc('\n', streams_.err);
  std::fflush(streams_.err);
}

}  // namespace vantor
