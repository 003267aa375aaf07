#include "app/win32/about_dialog.h"

#include "res/resource.h"

namespace vantor::win32 {
// Nothing of its own: OK, Enter, Escape and Close end the box through the
// dialog's OK and Cancel handling.
const MessageMapEntry AboutDialog::kMessageEntries[] = {EndOfMessageMap()};

const MessageMap AboutDialog::kMessageMap = {&Dialog::kMessageMap, kMessageEntries};

AboutDialog::AboutDialog(HWND parent) : Dialog(IDD_ABOUTBOX, parent) {}

AboutDialog::~AboutDialog() = default;

const MessageMap* AboutDialog::GetMessageMap() const {
  return &kMessageMap;
}

void AboutDialog::DoDataExchange(DataExchange& exchange) {
  Dialog::DoDataExchange(exchange);
}

}  // namespace vantor::win32
