#include "tests/app/win32/ui_automation.h"

#include <vector>

namespace vantor::uitest {
namespace {

struct Search {
  DWORD processId;
  bool (*accept)(HWND);
  HWND found;
};

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (std::wstring(className) != L"#32770") return TRUE;
  if (!search->accept(window)) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK VisitChild(HWND window, LPARAM parameter) {
  auto* children = reinterpret_cast<std::vector<HWND>*>(parameter);
  children->push_back(window);
  return TRUE;
}

}  // namespace

RunningProgram::RunningProgram(const std::wstring& exe, const std::wstring& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  if (CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
  }
}

RunningProgram::~RunningProgram() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool RunningProgram::WaitForExit(DWORD milliseconds) {
  return process_ != nullptr && WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
}

bool RunningProgram::Running() {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

HWND WaitForDialog(DWORD processId, bool (*accept)(HWND), DWORD milliseconds) {
  const ULONGLONG until = GetTickCount64() + milliseconds;
  for (;;) {
    Search search{processId, accept, nullptr};
    EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (GetTickCount64() >= until) return nullptr;
    Sleep(20);
  }
}

namespace {

// The caption, as the system holds it (no message to the window's thread).
std::wstring Caption(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

}  // namespace

bool IsMainDialog(HWND window) {
  return GetDlgItem(window, 1002) != nullptr;
}

// A message box has the program's name as its caption; the About box's
// caption is longer.
bool IsMessageBox(HWND window) {
  return GetDlgItem(window, 0xFFFF) != nullptr && GetDlgItem(window, IDOK) != nullptr &&
         GetDlgItem(window, 1002) == nullptr && Caption(window) == L"Vantor";
}

bool IsAboutBox(HWND window) {
  return GetDlgItem(window, IDOK) != nullptr && GetDlgItem(window, 1002) == nullptr &&
         Caption(window) != L"Vantor";
}

std::wstring Text(HWND window, bool* ok) {
  // One message: the text may change between a length and a read.
  std::vector<wchar_t> text(1024, L'\0');
  DWORD_PTR copied = 0;
  const bool answered =
      SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, 1000, &copied) != 0;
  if (ok != nullptr) *ok = answered;
  return answered ? std::wstring(text.data()) : std::wstring();
}

std::wstring ControlText(HWND dialog, int id) {
  return Text(GetDlgItem(dialog, id));
}

void SetControlText(HWND dialog, int id, const std::wstring& text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      SMTO_ABORTIFHUNG, 1000, &result);
}

void Press(HWND dialog, int id) {
  PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

std::wstring MessageBoxText(HWND box) {
  return ControlText(box, 0xFFFF);
}

void PressKey(HWND window, WORD virtualKey) {
  SetForegroundWindow(window);
  Pause(200);
  INPUT keys[2] = {};
  keys[0].type = INPUT_KEYBOARD;
  keys[0].ki.wVk = virtualKey;
  keys[1] = keys[0];
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, keys, sizeof(INPUT));
}

bool ClickCloseButton(HWND window) {
  SetForegroundWindow(window);
  Pause(200);
  RECT frame;
  GetWindowRect(window, &frame);
  // The close button is the rightmost caption button: look along the
  // caption for the point the window itself calls its close button.
  const int y = frame.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  for (int x = frame.right - 2; x > frame.right - 60; --x) {
    DWORD_PTR hit = 0;
    SendMessageTimeoutW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 1000, &hit);
    if (hit != HTCLOSE) continue;
    SetCursorPos(x, y);
    Pause(100);
    INPUT clicks[2] = {};
    clicks[0].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1] = clicks[0];
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &clicks[0], sizeof(INPUT));
    Pause(100);
    SendInput(1, &clicks[1], sizeof(INPUT));
    return true;
  }
  return false;
}

void ChooseSystemCommand(HWND window, WPARAM command) {
  PostMessageW(window, WM_SYSCOMMAND, command, 0);
}

std::vector<std::wstring> ComboItems(HWND dialog, int id) {
  HWND combo = GetDlgItem(dialog, id);
  std::vector<std::wstring> items;
  DWORD_PTR count = 0;
  SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &count);
  for (DWORD_PTR i = 0; i < count && i < 1000; ++i) {
    wchar_t text[256] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 1000, &length);
    if (length >= 256) continue;
    SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        1000, &length);
    items.emplace_back(text);
  }
  return items;
}

std::vector<HWND> Children(HWND dialog) {
  std::vector<HWND> all;
  EnumChildWindows(dialog, VisitChild, reinterpret_cast<LPARAM>(&all));
  std::vector<HWND> direct;
  for (HWND child : all) {
    if (GetParent(child) == dialog) direct.push_back(child);
  }
  return direct;
}

bool Answers(HWND window, UINT milliseconds) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, milliseconds, &result) != 0;
}

void Pause(DWORD milliseconds) {
  Sleep(milliseconds);
}

}  // namespace vantor::uitest
