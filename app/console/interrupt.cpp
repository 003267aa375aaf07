#include "app/console/interrupt.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace vantor {
namespace {

// Set from a signal handler (or, on Windows, the console control thread):
// a lock-free atomic is safe in both.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    g_interrupted.store(true);
    return TRUE;  // handled: the process goes on and closes the port itself
  }
  return FALSE;
}
#else
extern "C" void OnSignal(int) {
  g_interrupted.store(true);
}
#endif

}  // namespace

void InstallInterruptHandlers() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a prompt waiting for Enter wakes up
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

bool InterruptRequested() {
  return g_interrupted.load();
}

void RequestInterrupt() {
  g_interrupted.store(true);
}

void ClearInterrupt() {
  g_interrupted.store(false);
}

}  // namespace vantor
