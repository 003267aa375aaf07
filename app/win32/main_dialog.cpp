#include "app/win32/main_dialog.h"

#include <commdlg.h>

#include <vector>

#include "app/win32/about_dialog.h"
#include "app/win32/dialog_transport.h"
#include "app/win32/wide_text.h"
#include "app/write_operation.h"
#include "link/port_list.h"
#include "link/serial_link.h"
#include "res/resource.h"

namespace vantor::win32 {
namespace {

// 1 while a write is still to start by itself on the first paint.
bool g_autoStart = false;

// The whole text of a control.
std::wstring ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  const int length = GetWindowTextLengthW(control);
  if (length <= 0) return {};
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
  GetWindowTextW(control, text.data(), length + 1);
  return text.data();
}

int StoreControlText(HWND dialog, int id, char* buffer, std::size_t capacity) {
  const std::string text = Narrow(ControlText(dialog, id).c_str());
  return StoreFieldText(text.data(), text.size(), buffer, capacity);
}

}  // namespace

const MessageMapEntry MainDialog::kMessageEntries[] = {
    OnSysCommandMessage(&MainDialog::OnSysCommand),
    OnMessage(WM_PAINT, &MainDialog::OnPaint),
    OnQueryDragIconMessage(&MainDialog::OnQueryDragIcon),
    OnClicked(IDC_BROWSE, &MainDialog::OnBrowse),
    OnClicked(IDC_WRITE, &MainDialog::RunWriteOperation),
    OnClicked(IDC_EXIT, &MainDialog::OnExit),
    EndOfMessageMap(),
};

const MessageMap MainDialog::kMessageMap = {&Dialog::kMessageMap, kMessageEntries};

std::wstring BrowseForLoadFile(const std::wstring& defaultName) {
  static const wchar_t kFilters[] =
      L"writing files(*.mot,*.qpf)\0*.mot;*.qpf\0"
      L"S Record Format(*.MOT)\0*.MOT\0"
      L"Selvane Format(*.QPF)\0*.QPF\0";
  std::vector<wchar_t> file(32768, L'\0');
  OPENFILENAMEW request{};
  request.lStructSize = sizeof request;
  request.hwndOwner = TheApp().mainWindow != nullptr ? TheApp().mainWindow->Handle() : nullptr;
  request.lpstrFilter = kFilters;
  request.nFilterIndex = 1;
  request.lpstrFile = file.data();
  request.nMaxFile = static_cast<DWORD>(file.size());
  request.Flags = OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&request)) return defaultName;
  return file.data();
}

MainDialog::MainDialog(HWND parent)
    : Dialog(IDD_MAIN_DIALOG, parent),
      icon_(LoadIconW(TheApp().Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

MainDialog::~MainDialog() {
  ReleaseTaskbar();
}

const MessageMap* MainDialog::GetMessageMap() const {
  return &kMessageMap;
}

void MainDialog::DoDataExchange(DataExchange& exchange) {
  Dialog::DoDataExchange(exchange);
}

BOOL MainDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  HWND self = Handle();

  // The port field takes what its buffer holds, and lists the machine's
  // other ports and the virtual board besides COM1 to COM9.
  SendDlgItemMessageW(self, IDC_PORT, CB_LIMITTEXT, kPortNameCapacity - 1, 0);
  AddSystemPorts();

  if (HMENU menu = GetSystemMenu(self, FALSE); menu != nullptr) {
    wchar_t about[256] = {};
    if (LoadStringW(TheApp().Instance(), IDS_ABOUTBOX, about, 256) > 0 && about[0] != L'\0') {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }

  SendMessageW(self, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(self, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  SetDlgItemTextW(self, IDC_FILE, Widen(g_filePath).c_str());
  SetDlgItemTextW(self, IDC_PORT, Widen(g_portName).c_str());

  g_autoStart = false;
  if (g_filePath[0] != '\0' && g_portName[0] != '\0') g_autoStart = true;

  ConnectTaskbar();
  return TRUE;
}

void MainDialog::AddSystemPorts() {
  HWND self = Handle();
  std::vector<std::string> names = ListSerialPorts();
#ifdef VANTOR_HAS_SIM_BOARD
  names.emplace_back("sim");
#endif
  for (const std::string& name : names) {
    const std::wstring wide = Widen(name.c_str());
    if (SendDlgItemMessageW(self, IDC_PORT, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>(wide.c_str())) == CB_ERR) {
      SendDlgItemMessageW(self, IDC_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
  }
}

void MainDialog::OnSysCommand(UINT command, LPARAM position) {
  static_cast<void>(position);
  if ((command & 0xFFF0) == IDM_ABOUTBOX) {
    AboutDialog about;
    about.DoModal();
  } else {
    Default();
  }
}

void MainDialog::OnPaint() {
  HWND self = Handle();
  if (IsIconic(self)) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(self, &paint);
    SendMessageW(self, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(self, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(self, &paint);
  } else {
    Default();
  }
  // The flag goes before the write starts: the repaints the write forces
  // come back here and must not start another.
  if (g_autoStart) {
    g_autoStart = false;
    RunWriteOperation();
  }
}

HICON MainDialog::OnQueryDragIcon() {
  return icon_;
}

void MainDialog::OnBrowse() {
  const std::wstring defaultName = L"untitled";
  const std::wstring chosen = BrowseForLoadFile(defaultName);
  const std::string path = Narrow(chosen.c_str());
  StoreFieldText(path.data(), path.size(), g_filePath, sizeof g_filePath);
  if (chosen != defaultName) SetDlgItemTextW(Handle(), IDC_FILE, chosen.c_str());
}

void MainDialog::RunWriteOperation() {
  writing_ = true;
  if (taskbar_ != nullptr) taskbar_->SetProgressState(Handle(), TBPF_INDETERMINATE);
  vantor::RunWriteOperation(*this);
  if (taskbar_ != nullptr) taskbar_->SetProgressState(Handle(), TBPF_NOPROGRESS);
  writing_ = false;
}

void MainDialog::OnExit() {
  DestroyWindow();
}

BOOL MainDialog::DestroyWindow() {
  ClosePort();
  return Dialog::DestroyWindow();
}

int MainDialog::ReadFileField() {
  return StoreControlText(Handle(), IDC_FILE, g_filePath, sizeof g_filePath);
}

void MainDialog::ClearFileField() {
  SetDlgItemTextW(Handle(), IDC_FILE, L"");
}

int MainDialog::ReadPortField() {
  return StoreControlText(Handle(), IDC_PORT, g_portName, sizeof g_portName);
}

void MainDialog::ShowStatus(const char* text) {
  SetDlgItemTextW(Handle(), IDC_STATUS, Widen(text).c_str());
  UpdateWindow(Handle());
  KeepAlive();
}

void MainDialog::ShowMessageBox(const char* text) {
  MessageBoxW(Handle(), Widen(text).c_str(), TheApp().Name().c_str(), MB_OK);
}

void MainDialog::ShowPrompt(const char* text) {
  if (taskbar_ != nullptr) taskbar_->SetProgressState(Handle(), TBPF_PAUSED);
  ShowMessageBox(text);
  if (taskbar_ != nullptr) taskbar_->SetProgressState(Handle(), TBPF_INDETERMINATE);
}

void MainDialog::ShowErrorBox(const char* message) {
  if (taskbar_ != nullptr) taskbar_->SetProgressState(Handle(), TBPF_ERROR);
  ShowMessageBox(message);
}

void MainDialog::ShowBlockStatus(const char* text, const BlockProgress& progress) {
  if (taskbar_ != nullptr && progress.blocksTotal > 0) {
    if (progress.blocksDone == 0) taskbar_->SetProgressState(Handle(), TBPF_NORMAL);
    taskbar_->SetProgressValue(Handle(), progress.blocksDone, progress.blocksTotal);
  }
  ShowStatus(text);
}

void MainDialog::ConnectTaskbar() {
  ITaskbarList3* taskbar = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&taskbar)))) {
    return;  // the system offers no taskbar progress
  }
  if (FAILED(taskbar->HrInit())) {
    taskbar->Release();
    return;
  }
  taskbar_ = taskbar;
}

void MainDialog::ReleaseTaskbar() {
  if (taskbar_ == nullptr) return;
  taskbar_->Release();
  taskbar_ = nullptr;
}

}  // namespace vantor::win32
