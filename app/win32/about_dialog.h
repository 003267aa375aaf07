// The About box: the program's icon, name and version, and one more line.
#pragma once

#include "app/win32/dialog.h"

namespace vantor::win32 {

class AboutDialog : public Dialog {
 public:
  explicit AboutDialog(HWND parent = nullptr);
  ~AboutDialog() override;

 protected:
  const MessageMap* GetMessageMap() const override;
  void DoDataExchange(DataExchange& exchange) override;

  static const MessageMapEntry kMessageEntries[];
  static const MessageMap kMessageMap;
};

}  // namespace vantor::win32
