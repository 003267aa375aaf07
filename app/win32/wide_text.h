// UTF-8, the program's own encoding, to and from the UTF-16 of the
// wide-character Windows calls.
#pragma once

#include <string>

namespace vantor::win32 {

std::wstring Widen(const char* text);
std::string Narrow(const wchar_t* text);

}  // namespace vantor::win32
