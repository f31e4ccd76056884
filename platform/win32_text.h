// Conversions between the system's encodings and UTF-8, for the Windows side of platform/.
#pragma once

#include <string>
#include <string_view>
#include <windows.h>

namespace platform {

// `text` in `code_page` (CP_ACP, CP_UTF8) as UTF-16; invalid input becomes U+FFFD.
std::wstring wide_from(UINT code_page, std::string_view text);
// UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8_from_wide(std::wstring_view text);

} // namespace platform
