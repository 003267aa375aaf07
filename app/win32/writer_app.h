// The dialog program's application object: its start-up splits the command
// line into the file and port fields, runs the main dialog and ends the
// program when the dialog goes.
#pragma once

#include "app/win32/dialog.h"

namespace vantor::win32 {

class WriterApp : public Application {
 public:
  WriterApp();
  ~WriterApp() override;

  // Always false: there is no message loop after the main dialog.
  BOOL InitInstance() override;
};

}  // namespace vantor::win32
