// The operator panel on a terminal: the file and port fields are the
// command-line arguments, status texts are lines on stdout, a prompt waits
// for Enter, errors go to stderr. While blocks are written a progress line
// on stderr is rewritten in place when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/operator_panel.h"

namespace vantor {

struct ConsoleStreams {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool errIsTerminal = false;  // draw the progress line
  bool inIsTerminal = false;   // the terminal echoes the Enter of a prompt
};

struct ConsolePanelSettings {
  bool assumeYes = false;  // answer both prompts at once
  bool quiet = false;      // print only errors (and prompts that wait)
};

class ConsolePanel : public OperatorPanel {
 public:
  ConsolePanel(const ConsoleStreams& streams, const ConsolePanelSettings& settings);

  // What the two fields hold, as start-up leaves them.
  void SetFields(std::string file, std::string port);
  const std::string& FileField() const { return fileField_; }

  // Whether the run ended with an error message, and whether that was an
  // interrupt.
  bool ReportedInterrupt() const { return reportedInterrupt_; }

  int ReadFileField() override;
  void ClearFileField() override;
  int ReadPortField() override;
  void ShowStatus(const char* text) override;
  void ShowPrompt(const char* text) override;
  void ShowErrorBox(const char* message) override;
  // On stderr, also with --quiet.
  void ShowWarning(const char* text) override;
  void ShowBlockStatus(const char* text, const BlockProgress& progress) override;

 private:
  void EndProgressLine();
  void DrawProgress(unsigned blocksDone, unsigned blocksTotal, std::uint32_t address,
                    bool hasAddress);
  std::uint32_t lineRate_ = 9600;  // of the blocks, for the progress line

  ConsoleStreams streams_;
  ConsolePanelSettings settings_;
  std::string fileField_;
  std::string portField_;
  bool failed_ = false;  // an error has been shown: the status is the failure text
  bool reportedInterrupt_ = false;
  bool progressShown_ = false;  // the progress line is on the screen
  unsigned blocksTotal_ = 0;
  std::chrono::steady_clock::time_point blocksStart_;
};

}  // namespace vantor
