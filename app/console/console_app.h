// The console program as a function of its arguments and streams, so that
// the tests can run it in-process as well as main() does.
#pragma once

#include "app/console/console_panel.h"

namespace vantor {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// The write went to the virtual board, which saw the flash programming
// procedure broken (the write's own result aside).
inline constexpr int kExitFlashViolation = 3;
inline constexpr int kExitInterrupted = 130;

// argv holds UTF-8 texts. Returns the exit status.
int RunConsole(int argc, const char* const* argv, const ConsoleStreams& streams);

}  // namespace vantor
