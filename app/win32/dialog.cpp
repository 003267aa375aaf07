#include "app/win32/dialog.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "app/win32/wide_text.h"
#include "res/resource.h"

namespace vantor::win32 {
namespace {

Application* g_app = nullptr;

// The initialisation data of a dialog template: records of a control ID
// (16 bits), a message (16 bits), a length (32 bits) and that many bytes of
// a zero-terminated text, up to a control ID of 0. The message 0x0403 adds
// the text to a combo box's list.
constexpr std::uint16_t kInitAddString = 0x0403;

std::uint16_t Read16(const unsigned char* at) {
  std::uint16_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
std::uint32_t Read32(const unsigned char* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

const MessageMapEntry Dialog::kMessageEntries[] = {EndOfMessageMap()};
const MessageMap Dialog::kMessageMap = {nullptr, kMessageEntries};

Dialog::Dialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() {
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
}

const MessageMap* Dialog::GetMessageMap() const {
  return &kMessageMap;
}

INT_PTR Dialog::DoModal() {
  HINSTANCE instance = TheApp().Instance();
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(templateId_), MAKEINTRESOURCEW(5));
  HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
  const void* dialogTemplate = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (dialogTemplate == nullptr) return -1;

  owner_ = parent_;
  if (owner_ == nullptr && TheApp().mainWindow != nullptr && TheApp().mainWindow != this) {
    owner_ = TheApp().mainWindow->Handle();
  }
  const bool disableOwner = owner_ != nullptr && IsWindowEnabled(owner_);
  if (disableOwner) EnableWindow(owner_, FALSE);

  ended_ = false;
  result_ = IDCANCEL;
  CreateDialogIndirectParamW(instance, static_cast<const DLGTEMPLATE*>(dialogTemplate), owner_,
                             DialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd_ != nullptr) {
    if (!ended_ && (GetWindowLongW(hwnd_, GWL_STYLE) & WS_VISIBLE) == 0) {
      ShowWindow(hwnd_, SW_SHOWNORMAL);
    }
    MSG msg;
    while (!ended_ && hwnd_ != nullptr) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // for the loops outside
        break;
      }
      if (got == -1) break;
      if (hwnd_ == nullptr || !IsDialogMessageW(hwnd_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  } else {
    result_ = -1;
  }

  if (disableOwner) EnableWindow(owner_, TRUE);
  if (owner_ != nullptr && hwnd_ != nullptr && GetActiveWindow() == hwnd_) {
    SetActiveWindow(owner_);
  }
  DestroyWindow();
  owner_ = nullptr;
  return result_;
}

BOOL Dialog::DestroyWindow() {
  if (hwnd_ == nullptr) return FALSE;
  return ::DestroyWindow(hwnd_);
}

BOOL Dialog::OnInitDialog() {
  RunDialogInitData();
  UpdateData(false);
  CenterOnOwner();
  return TRUE;
}

void Dialog::DoDataExchange(DataExchange& exchange) {
  static_cast<void>(exchange);
}

void Dialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void Dialog::OnCancel() {
  EndDialog(IDCANCEL);
}

bool Dialog::UpdateData(bool saveAndValidate) {
  DataExchange exchange;
  exchange.saveAndValidate = saveAndValidate;
  DoDataExchange(exchange);
  return true;
}

void Dialog::EndDialog(INT_PTR result) {
  result_ = result;
  ended_ = true;
  if (hwnd_ != nullptr) {
    ShowWindow(hwnd_, SW_HIDE);
    PostMessageW(hwnd_, WM_NULL, 0, 0);  // wakes the modal loop
  }
}

LRESULT Dialog::Default() {
  return DefWindowProcW(hwnd_, currentMessage_, currentWParam_, currentLParam_);
}

void Dialog::RunDialogInitData() {
  HINSTANCE instance = TheApp().Instance();
  HRSRC found =
      FindResourceW(instance, MAKEINTRESOURCEW(templateId_), MAKEINTRESOURCEW(RT_DIALOG_INIT));
  if (found == nullptr) return;
  HGLOBAL loaded = LoadResource(instance, found);
  const auto* data = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
  const DWORD size = SizeofResource(instance, found);
  if (data == nullptr) return;
  DWORD at = 0;
  while (at + 2 <= size) {
    const std::uint16_t control = Read16(data + at);
    if (control == 0 || at + 8 > size) break;
    const std::uint16_t message = Read16(data + at + 2);
    const std::uint32_t length = Read32(data + at + 4);
    at += 8;
    if (length > size - at) break;
    if (message == kInitAddString) {
      std::string text(reinterpret_cast<const char*>(data + at), length);
      text.resize(std::strlen(text.c_str()));
      const std::wstring wide = Widen(text.c_str());
      SendDlgItemMessageW(hwnd_, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    at += length;
  }
}

void Dialog::CenterOnOwner() {
  RECT window;
  GetWindowRect(hwnd_, &window);
  RECT area;
  if (owner_ != nullptr && IsWindowVisible(owner_)) {
    GetWindowRect(owner_, &area);
  } else {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    area = monitor.rcWork;
  }
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  const int x = area.left + (area.right - area.left - width) / 2;
  const int y = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
    for (const MessageMapEntry* entry = map->entries; entry->message != 0; ++entry) {
      if (entry->message != message) continue;
      if (message == WM_COMMAND &&
          (LOWORD(wParam) != entry->controlId || HIWORD(wParam) != entry->notifyCode)) {
        continue;
      }
      switch (entry->kind) {
        case HandlerKind::kPlain:
          (this->*entry->handler.plain)();
          result = TRUE;
          return true;
        case HandlerKind::kSysCommand:
          (this->*entry->handler.sysCommand)(static_cast<UINT>(wParam), lParam);
          result = TRUE;
          return true;
        case HandlerKind::kQueryDragIcon:
          // Returned as it is: the system reads this message's result from
          // the dialog procedure's own return value.
          result = reinterpret_cast<INT_PTR>((this->*entry->handler.queryDragIcon)());
          return true;
      }
    }
  }
  // The dialog's own OK and Cancel handling.
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
      result = TRUE;
      return true;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      OnCancel();
      result = TRUE;
      return true;
    }
  }
  return false;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
    return self->OnInitDialog();
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
    // The end of the main window ends the program's message loops.
    if (TheApp().mainWindow == self) {
      TheApp().mainWindow = nullptr;
      PostQuitMessage(0);
    }
    return FALSE;
  }
  if ((message == WM_COMMAND || message == WM_SYSCOMMAND || message == WM_CLOSE) &&
      self->IgnoresCommands()) {
    return TRUE;
  }
  const UINT savedMessage = self->currentMessage_;
  const WPARAM savedWParam = self->currentWParam_;
  const LPARAM savedLParam = self->currentLParam_;
  self->currentMessage_ = message;
  self->currentWParam_ = wParam;
  self->currentLParam_ = lParam;
  INT_PTR result = FALSE;
  const bool handled = self->Dispatch(message, wParam, lParam, result);
  self->currentMessage_ = savedMessage;
  self->currentWParam_ = savedWParam;
  self->currentLParam_ = savedLParam;
  return handled ? result : FALSE;
}

Application::Application() {
  g_app = this;
}

Application::~Application() {
  if (g_app == this) g_app = nullptr;
}

void Application::Start(HINSTANCE instance) {
  instance_ = instance;
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) break;
    path.resize(path.size() * 2);
  }
  std::wstring name(path.data());
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos && dot > 0) name.erase(dot);
  name_ = name;
}

Application& TheApp() {
  return *g_app;
}

}  // namespace vantor::win32
