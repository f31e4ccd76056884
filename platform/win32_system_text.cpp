// Windows hands out 8-bit text in the ANSI code page; the windows show UTF-8.
#include "system_text.h"
#include "win32_text.h"

#include <algorithm>
#include <climits>

namespace platform {

namespace {

// The conversion calls take int lengths. Nothing the system gives is that long; longer text
// is cut rather than passed on with a wrapped length.
int length_of(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

} // namespace

std::wstring wide_from(UINT code_page, std::string_view text) {
    const int length = length_of(text.size());
    const int wide = MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
    if (wide <= 0)
        return {};
    std::wstring out(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), length, out.data(), wide);
    return out;
}

std::string utf8_from_wide(std::wstring_view text) {
    const int length = length_of(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string utf8_from_system(std::string_view text) {
    return utf8_from_wide(wide_from(CP_ACP, text));
}

} // namespace platform
