// The dialog program's command line: an optional load-file path, optionally
// followed by one blank and the port name.
#pragma once

namespace vantor {

// The text after the program's own name: a name that begins with a double
// quote ends at the closing quote, any other at the first character of code
// 0x20 or below; every character from 0x01 to 0x20 after it is skipped too.
// Blanks at the end stay.
const char* SkipProgramName(const char* commandLine);

// What SplitStartupArguments left out.
struct StartupSplit {
  bool fileRefused = false;  // the path did not fit g_filePath: left empty
  bool portRefused = false;  // the port name did not fit g_portName: left empty
};

// Fills g_filePath and g_portName from `arguments` (UTF-8): split at the
// first blank only. Tabs and double quotes are ordinary characters, so a
// path with a blank cannot be given; everything after that blank, further
// blanks included, is the port name. A part too long for its buffer is
// refused as a whole, never cut.
StartupSplit SplitStartupArguments(const char* arguments);

}  // namespace vantor
