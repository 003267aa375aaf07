#include "app/win32/writer_app.h"

#include <objbase.h>

#include "app/command_line.h"
#include "app/win32/dialog_transport.h"
#include "app/win32/main_dialog.h"
#include "app/win32/wide_text.h"

namespace vantor::win32 {
namespace {

WriterApp g_writerApp;

}  // namespace

WriterApp::WriterApp() = default;

WriterApp::~WriterApp() = default;

BOOL WriterApp::InitInstance() {
  InstallDialogTransport();

  MainDialog dialog;
  mainWindow = &dialog;

  // The arguments in UTF-8; a part too long for its buffer leaves its field
  // empty, as if it had not been given.
  const std::string commandLine = Narrow(GetCommandLineW());
  SplitStartupArguments(SkipProgramName(commandLine.c_str()));

  dialog.DoModal();
  mainWindow = nullptr;
  return FALSE;
}

}  // namespace vantor::win32

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using vantor::win32::TheApp;
  // Common controls version 6 come from the manifest; the taskbar's
  // progress needs COM.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  TheApp().Start(instance);
  const BOOL run = TheApp().InitInstance();
  static_cast<void>(run);  // no message loop follows: the program ends here
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
