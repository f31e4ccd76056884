// The numeric text rule against a second, plain reading of it: drop every blank, tab and line
// feed, take the longest leading [sign] digits [. digits] [E|D [sign] digits], and let the C
// library convert that. Both must agree on every text, to the last bit, infinities included.
// The port number conversion is checked against rounding done by hand, in every rounding mode
// of the processor, and round_half_even against the C library's rounding in the default mode.
#include "fuzz_check.h"
#include "numeric_text.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool digit(char c) {
    return c >= '0' && c <= '9';
}

double plain_reading(std::string_view text) {
    std::string s;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            s += c;
    std::size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number += s[i++];
    std::size_t digits = 0;
    for (; i < s.size() && digit(s[i]); ++i, ++digits)
        number += s[i];
    if (i < s.size() && s[i] == '.')
        for (number += s[i++]; i < s.size() && digit(s[i]); ++i, ++digits)
            number += s[i];
    if (digits == 0)
        return 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent += s[j++];
        const std::size_t first_digit = j;
        for (; j < s.size() && digit(s[j]); ++j)
            exponent += s[j];
        if (j > first_digit)
            number += exponent;
    }
    return std::strtod(number.c_str(), nullptr);
}

// The nearest integer, halves to the even one; 0 outside the 16-bit range.
std::int16_t port_by_hand(double v) {
    if (!std::isfinite(v))
        return 0;
    double whole = std::floor(v);
    const double rest = v - whole;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2) != 0))
        whole += 1;
    if (whole < -32768 || whole > 32767)
        return 0;
    return static_cast<std::int16_t>(whole);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = weather::numeric_value(text);
    const double expected = plain_reading(text);
    FUZZ_CHECK(!std::isnan(value));
    if (value != expected) {
        std::fprintf(stderr, "numeric_value gave %.17g, the plain reading %.17g\n", value,
                     expected);
        FUZZ_CHECK(value == expected);
    }
    const std::int16_t port = port_by_hand(value);
    FUZZ_CHECK(weather::to_port_number(value) == port);
    FUZZ_CHECK(!std::isfinite(value) || weather::round_half_even(value) == std::nearbyint(value));
    for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        const std::int16_t in_mode = weather::to_port_number(value);
        std::fesetround(FE_TONEAREST);
        FUZZ_CHECK(in_mode == port);
    }
    return 0;
}
