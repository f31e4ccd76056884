#include "numeric_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace weather {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The characters of a text with its blanks, tabs and line feeds passed over.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}
    // The next character that counts; NUL at the end, which no number takes either.
    char peek() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n'))
            ++at_;
        return at_ < text_.size() ? text_[at_] : '\0';
    }
    char take() {
        const char c = peek();
        ++at_;
        return c;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

// An exponent beyond any double's and any text's digit count; larger ones are cut to it.
constexpr long long exponent_limit = 1'000'000'000'000;

// The power of ten just above the first significant digit of `digits` (digits and at most one
// point): 3 for "123.4", 0 for "0.5", -2 for "0.001".
long long leading_power(const std::string& digits) {
    const auto point = static_cast<long long>(std::min(digits.find('.'), digits.size()));
    const auto first = static_cast<long long>(digits.find_first_of("123456789"));
    return first < point ? point - first : point - first + 1;
}

} // namespace

double numeric_value(std::string_view text) {
    Reader in(text);
    const bool negative = in.peek() == '-';
    if (in.peek() == '+' || in.peek() == '-')
        in.take();
    std::string digits; // with at most one point
    bool point = false;
    for (char c = in.peek(); is_digit(c) || (c == '.' && !point); c = in.peek()) {
        point = point || c == '.';
        digits += in.take();
    }
    if (digits.find_first_not_of('.') == std::string::npos)
        return 0.0;

    // A letter with no digits after it (and its sign) adds nothing: the exponent stays 0.
    long long exponent = 0;
    const char letter = in.peek();
    if (letter == 'E' || letter == 'e' || letter == 'D' || letter == 'd') {
        in.take();
        const bool minus = in.peek() == '-';
        if (in.peek() == '+' || in.peek() == '-')
            in.take();
        while (is_digit(in.peek()))
            exponent = std::min(exponent * 10 + (in.take() - '0'), exponent_limit);
        if (minus)
            exponent = -exponent;
    }

    // from_chars reads "." whatever the locale, and rounds any number of digits correctly.
    const std::string number = digits + 'e' + std::to_string(exponent);
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        const bool zero = digits.find_first_of("123456789") == std::string::npos;
        value = !zero && leading_power(digits) + exponent > 0
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

double round_half_even(double value) {
    if (!std::isfinite(value))
        return value;
    // On the magnitude, the fraction is exact whatever the rounding mode: both numbers lie
    // within a factor of two of each other, or the whole part is 0.
    const double magnitude = std::fabs(value);
    double whole = std::floor(magnitude);
    const double fraction = magnitude - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) == 1.0))
        whole += 1.0; // exact: a double with a fraction is below 2^52
    return std::copysign(whole, value);
}

std::int16_t to_port_number(double value) {
    const double r = round_half_even(value);
    if (!(r >= -32768.0 && r <= 32767.0))
        return 0;
    return static_cast<std::int16_t>(r);
}

double box_number(std::string_view text, std::string_view point) {
    if (point.empty() || point == ".")
        return numeric_value(text);
    std::string with_points;
    with_points.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.substr(i, point.size()) == point) {
            with_points += '.';
            i += point.size();
        } else {
            with_points += text[i++];
        }
    }
    return numeric_value(with_points);
}

} // namespace weather
