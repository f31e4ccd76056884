#include "numeric_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace weather {

namespace {

bool skipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

double numeric_value(std::string_view text) {
    // Collect the number's characters in a form from_chars reads: no sign, "." and "e".
    std::string mantissa;
    std::string exponent;
    bool negative = false;
    bool seen_sign = false;
    bool seen_point = false;
    bool in_exponent = false;
    bool exponent_sign_allowed = false;
    long long significant_digits_before_point = 0; // for the size of out-of-range numbers
    long long zeros_after_point = 0;               // before the first other digit: 0.001
    bool leading_zero = true;
    bool exponent_digits = false;

    for (char c : text) {
        if (skipped(c))
            continue;
        if (in_exponent) {
            if (exponent_sign_allowed && (c == '+' || c == '-')) {
                exponent_sign_allowed = false;
                if (c == '-')
                    exponent += '-';
                continue;
            }
            exponent_sign_allowed = false;
            if (!is_digit(c))
                break;
            exponent_digits = true;
            const bool leading = c == '0' && exponent.find_first_not_of('-') == std::string::npos;
            if (!leading && exponent.size() < 12) // enough to overflow any double
                exponent += c;
            continue;
        }
        if (!seen_sign && mantissa.empty() && !seen_point && (c == '+' || c == '-')) {
            seen_sign = true;
            negative = c == '-';
            continue;
        }
        seen_sign = true; // a sign may only stand first
        if (is_digit(c)) {
            mantissa += c;
            if (c != '0')
                leading_zero = false;
            if (!seen_point && !leading_zero)
                ++significant_digits_before_point;
            else if (seen_point && leading_zero)
                ++zeros_after_point;
            continue;
        }
        if (c == '.' && !seen_point) {
            seen_point = true;
            mantissa += '.';
            continue;
        }
        if ((c == 'E' || c == 'e' || c == 'D' || c == 'd') &&
            mantissa.find_first_of("0123456789") != std::string::npos) {
            in_exponent = true;
            exponent_sign_allowed = true;
            continue;
        }
        break;
    }

    if (mantissa.find_first_of("0123456789") == std::string::npos)
        return 0.0;
    std::string number = mantissa;
    const bool has_exponent_digits =
        exponent_digits && exponent.find_first_of("0123456789") != std::string::npos;
    if (has_exponent_digits)
        number += "e" + exponent;

    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                           std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        long long exp10 = 0;
        if (has_exponent_digits) {
            const auto [p, e] =
                std::from_chars(exponent.data(), exponent.data() + exponent.size(), exp10);
            (void)p;
            if (e != std::errc())
                exp10 = 0;
        }
        value = (exp10 + significant_digits_before_point - zeros_after_point > 0)
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::int16_t to_port_number(double value) {
    const double r = std::nearbyint(value); // the default rounding mode: halves to even
    if (!(r >= -32768.0 && r <= 32767.0))
        return 0;
    return static_cast<std::int16_t>(r);
}

} // namespace weather
