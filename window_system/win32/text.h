// UTF-8 in the model, UTF-16 towards Windows: the conversions both ways and a window's text.
#pragma once

#include <string>
#include <windows.h>

namespace window_system::win32 {

// UTF-8 to UTF-16. Bytes that are not UTF-8 (a port name from the registry, say) are taken in
// the ANSI code page instead.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

// The text of a window, in UTF-16.
std::wstring window_text(HWND hwnd);

} // namespace window_system::win32
