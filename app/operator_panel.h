// The operator's side of a write: the file and port fields, the one-line
// status, the prompts and the error box. The write operation speaks only
// through this surface, so the console program and the dialog share every
// line of it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantor {

// The two start-up parameters, shared by start-up, the front end and the
// write operation: zero-terminated byte strings, zero when the program starts.
// The port-name buffer holds a whole device path ("/dev/serial/by-id/...",
// "\\.\COM10"), never a name cut short.
inline constexpr std::size_t kFilePathCapacity = 256;  // 255 bytes and the zero
inline constexpr std::size_t kPortNameCapacity = 256;  // 255 bytes and the zero
extern char g_filePath[kFilePathCapacity];
extern char g_portName[kPortNameCapacity];

// A field read that did not fit its buffer: the buffer is left empty and the
// text is refused as a whole.
inline constexpr int kFieldTooLong = -1;

// Copies `length` bytes of `text` into buffer[0..capacity) with a terminating
// zero. Returns the number of bytes copied (0 for an empty text), or
// kFieldTooLong, with the buffer emptied, when the text needs more than
// capacity - 1 bytes. A zero byte inside `text` ends it.
int StoreFieldText(const char* text, std::size_t length, char* buffer, std::size_t capacity);

// Where the block loop stands, for panels that draw progress.
struct BlockProgress {
  std::uint32_t address = 0;      // the block about to be sent
  unsigned blocksDone = 0;        // blocks already written in this run
  unsigned blocksTotal = 0;       // non-blank blocks of the image
  std::uint32_t lineRate = 9600;  // bit/s the blocks go at
};

class OperatorPanel {
 public:
  virtual ~OperatorPanel() = default;

  // Copies the file field into g_filePath. Returns the number of bytes
  // copied, 0 for an empty field, or kFieldTooLong.
  virtual int ReadFileField() = 0;

  // Empties the file field.
  virtual void ClearFileField() = 0;

  // Copies the port field, whole, into g_portName. Returns the number of
  // bytes copied, 0 for an empty field, or kFieldTooLong.
  virtual int ReadPortField() = 0;

  // Puts a text into the status line and makes it visible at once.
  virtual void ShowStatus(const char* text) = 0;

  // Shows a text and waits until the operator acknowledges it.
  virtual void ShowPrompt(const char* text) = 0;

  // Shows an error message (the box ShowError opens). The dialog waits for
  // OK as with a prompt; the console prints it and goes on.
  virtual void ShowErrorBox(const char* message) = 0;

  // Something the operator should know that does not stop the write: records
  // with a wrong checksum in the loaded file, or a line that stayed at
  // 9600 bit/s. Panels without a place of their own for it, the dialog among
  // them, show it as a status, where a file warning stands while the
  // power-on prompt waits; the console prints it.
  virtual void ShowWarning(const char* text) { ShowStatus(text); }

  // The status text before each block. Panels that draw a progress bar
  // override it; the others show the text like any status.
  virtual void ShowBlockStatus(const char* text, const BlockProgress& progress) {
    static_cast<void>(progress);
    ShowStatus(text);
  }
};

}  // namespace vantor
