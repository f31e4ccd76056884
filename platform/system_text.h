// Text that comes from the operating system in its own 8-bit encoding, made fit for the
// windows, which show UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` (a port name, for instance) in UTF-8. On Windows it is read in the ANSI code page; on
// Linux it is taken as UTF-8, and every byte that is not part of a valid sequence becomes
// U+FFFD. NUL characters are kept, so a listed port name keeps its terminating NUL.
std::string utf8_from_system(std::string_view text);

} // namespace platform
