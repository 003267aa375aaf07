// The program's main window: the file field with its "..." button, the port
// field, WRITE, EXIT and the status line. The operator panel of the write
// lives on its controls, so a write here is the same RunWriteOperation the
// console program runs.
#pragma once

#include <shobjidl.h>

#include <string>

#include "app/operator_panel.h"
#include "app/win32/dialog.h"

namespace vantor::win32 {

// The open-file dialog for a load file: the chosen full path, or
// `defaultName` when the user cancels.
std::wstring BrowseForLoadFile(const std::wstring& defaultName);

class MainDialog : public Dialog, public OperatorPanel {
 public:
  explicit MainDialog(HWND parent = nullptr);
  ~MainDialog() override;

  BOOL DestroyWindow() override;

  // The operator panel on the dialog's controls.
  int ReadFileField() override;
  void ClearFileField() override;
  int ReadPortField() override;
  void ShowStatus(const char* text) override;
  void ShowPrompt(const char* text) override;
  void ShowErrorBox(const char* message) override;
  void ShowBlockStatus(const char* text, const BlockProgress& progress) override;

 protected:
  const MessageMap* GetMessageMap() const override;
  void DoDataExchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;
  bool IgnoresCommands() const override { return writing_; }

  void OnSysCommand(UINT command, LPARAM position);
  void OnPaint();
  HICON OnQueryDragIcon();
  void OnBrowse();
  void RunWriteOperation();
  void OnExit();

  static const MessageMapEntry kMessageEntries[];
  static const MessageMap kMessageMap;

 private:
  void ShowMessageBox(const char* text);
  void AddSystemPorts();
  void ConnectTaskbar();
  void ReleaseTaskbar();

  HICON icon_;
  bool writing_ = false;
  ITaskbarList3* taskbar_ = nullptr;
};

}  // namespace vantor::win32
