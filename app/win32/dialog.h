// The small dialog framework the program is built on: a dialog made from a
// template resource and run modally, whose messages go through a static
// message map of its class to member handlers; and the application object
// whose start-up runs the main dialog.
#pragma once

#include <windows.h>

#include <string>

namespace vantor::win32 {

class Dialog;

// What a message-map entry calls, by the kind of handler.
enum class HandlerKind {
  kPlain,          // void Handler(): WM_PAINT, button clicks
  kSysCommand,     // void Handler(UINT command, LPARAM position)
  kQueryDragIcon,  // HICON Handler()
};

union MessageHandler {
  void (Dialog::*plain)();
  void (Dialog::*sysCommand)(UINT, LPARAM);
  HICON (Dialog::*queryDragIcon)();
};

struct MessageMapEntry {
  UINT message;     // 0 ends the map
  UINT notifyCode;  // WM_COMMAND only: the notification (BN_CLICKED)
  UINT controlId;   // WM_COMMAND only: the control
  HandlerKind kind;
  MessageHandler handler;
};

// One class's map and the map of its base class, searched after it.
struct MessageMap {
  const MessageMap* base;
  const MessageMapEntry* entries;
};

// Entries of a map, for the handler signatures above.
template <class D>
constexpr MessageMapEntry OnMessage(UINT message, void (D::*handler)()) {
  return {message, 0, 0, HandlerKind::kPlain, {.plain = static_cast<void (Dialog::*)()>(handler)}};
}
template <class D>
constexpr MessageMapEntry OnSysCommandMessage(void (D::*handler)(UINT, LPARAM)) {
  return {WM_SYSCOMMAND,
          0,
          0,
          HandlerKind::kSysCommand,
          {.sysCommand = static_cast<void (Dialog::*)(UINT, LPARAM)>(handler)}};
}
template <class D>
constexpr MessageMapEntry OnQueryDragIconMessage(HICON (D::*handler)()) {
  return {WM_QUERYDRAGICON,
          0,
          0,
          HandlerKind::kQueryDragIcon,
          {.queryDragIcon = static_cast<HICON (Dialog::*)()>(handler)}};
}
template <class D>
constexpr MessageMapEntry OnClicked(UINT controlId, void (D::*handler)()) {
  return {WM_COMMAND,
          BN_CLICKED,
          controlId,
          HandlerKind::kPlain,
          {.plain = static_cast<void (Dialog::*)()>(handler)}};
}
constexpr MessageMapEntry EndOfMessageMap() {
  return {0, 0, 0, HandlerKind::kPlain, {.plain = nullptr}};
}

// Direction of a data exchange between members and controls.
struct DataExchange {
  bool saveAndValidate = false;  // controls to members
};

class Dialog {
 public:
  // `parent`: the owner during the modal run; nullptr makes the
  // application's main window the owner (none for the main window itself).
  Dialog(UINT templateId, HWND parent);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the window from the template, runs it until EndDialog or until
  // the window is destroyed, then destroys it through DestroyWindow.
  // Returns the EndDialog result, or -1 when the window could not be made.
  INT_PTR DoModal();

  // Destroys the window; false when there is none.
  virtual BOOL DestroyWindow();

  HWND Handle() const { return hwnd_; }

 protected:
  virtual const MessageMap* GetMessageMap() const;

  // Fills the controls from the template's initialisation data (the combo
  // box's list), then runs the data exchange towards the controls. True
  // lets the system set the focus.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(DataExchange& exchange);
  virtual void OnOK();
  virtual void OnCancel();
  // While true, commands (WM_COMMAND, WM_SYSCOMMAND, WM_CLOSE) that reach
  // the dialog are dropped unhandled.
  virtual bool IgnoresCommands() const { return false; }

  bool UpdateData(bool saveAndValidate);
  void EndDialog(INT_PTR result);
  // The system's default processing of the message being handled.
  LRESULT Default();

  static const MessageMapEntry kMessageEntries[];
  static const MessageMap kMessageMap;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
  void RunDialogInitData();
  void CenterOnOwner();

  UINT templateId_;
  HWND parent_;
  HWND hwnd_ = nullptr;
  HWND owner_ = nullptr;
  bool ended_ = false;
  INT_PTR result_ = IDCANCEL;
  // The message being handled, for Default().
  UINT currentMessage_ = 0;
  WPARAM currentWParam_ = 0;
  LPARAM currentLParam_ = 0;
};

// The program: one instance, made during static initialisation. wWinMain
// calls InitInstance; when it returns false the program ends there.
class Application {
 public:
  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  virtual BOOL InitInstance() = 0;

  // The executable's file name without its extension: the caption of every
  // message box.
  const std::wstring& Name() const { return name_; }
  HINSTANCE Instance() const { return instance_; }

  Dialog* mainWindow = nullptr;

  // Called by wWinMain before InitInstance.
  void Start(HINSTANCE instance);

 private:
  std::wstring name_;
  HINSTANCE instance_ = nullptr;
};

// The one application object.
Application& TheApp();

}  // namespace vantor::win32
