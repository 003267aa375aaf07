// Driving a running dialog program from another process: find its windows,
// read and set control texts, press buttons and keys, answer message boxes,
// choose system-menu commands. Every wait is bounded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vantor::uitest {

// A program started for a test; ended (if still running) when destroyed.
class RunningProgram {
 public:
  // `commandLine` is passed exactly as given, program name included.
  RunningProgram(const std::wstring& exe, const std::wstring& commandLine);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool started() const { return process_ != nullptr; }
  DWORD id() const { return id_; }
  // True when the program ended within `milliseconds`.
  bool WaitForExit(DWORD milliseconds);
  bool Running();

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// The process's visible top-level dialog (class #32770) for which `accept`
// is true, waited for up to `milliseconds`; nullptr when none came.
HWND WaitForDialog(DWORD processId, bool (*accept)(HWND), DWORD milliseconds);

bool IsMainDialog(HWND window);  // has the WRITE button
bool IsMessageBox(HWND window);  // the message text control (65535), caption "Vantor"
bool IsAboutBox(HWND window);    // an OK button, another caption

// A window's text through WM_GETTEXT; `ok` false when the window did not
// answer within a second.
std::wstring Text(HWND window, bool* ok = nullptr);
std::wstring ControlText(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::wstring& text);
// Presses a button the way a click does, without waiting for its handler.
void Press(HWND dialog, int id);
// The text of a message box.
std::wstring MessageBoxText(HWND box);
// Real keyboard input to the foreground window (the dialog is brought to
// the front first).
void PressKey(HWND window, WORD virtualKey);
// A real mouse click on the caption's close button.
bool ClickCloseButton(HWND window);
// Posts a system-menu command, as choosing it from the menu does.
void ChooseSystemCommand(HWND window, WPARAM command);

// The texts of a combo box's list.
std::vector<std::wstring> ComboItems(HWND dialog, int id);

// The child windows of a dialog in their Z (template) order.
std::vector<HWND> Children(HWND dialog);

// Whether the window's thread answers a message within `milliseconds`.
bool Answers(HWND window, UINT milliseconds);

// Sleeps in small steps; used between polls only.
void Pause(DWORD milliseconds);

}  // namespace vantor::uitest
