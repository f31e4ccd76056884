// Linux names its devices in UTF-8, but a name is only bytes: what is not valid UTF-8 is
// replaced, byte by byte, so that the windows never get broken text.
#include "system_text.h"

#include <cstddef>
#include <cstdint>

namespace platform {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0 when there is none
// (a stray continuation byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t sequence_length(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // below is overlong
        else if (lead == 0xED)
            high = 0x9F; // above are the surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // below is overlong
        else if (lead == 0xF4)
            high = 0x8F; // above is beyond U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string utf8_from_system(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t n = sequence_length(text);
        if (n == 0) {
            out += replacement;
            text.remove_prefix(1);
        } else {
            out += text.substr(0, n);
            text.remove_prefix(n);
        }
    }
    return out;
}

} // namespace platform
