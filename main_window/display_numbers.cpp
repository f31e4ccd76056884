#include "display_numbers.h"

#include "numeric_text.h"

#include <charconv>
#include <cmath>

namespace main_window {

namespace {

// Adds one to a text of decimal digits.
void increment_digits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

} // namespace

std::string format_reading(float value, std::string_view point) {
    if (!std::isfinite(value))
        return "-"; // the link never holds such a reading; show "no value" rather than junk
    char buf[128];  // the longest float in fixed notation has 45 decimals
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
    const std::string_view digits(buf, static_cast<std::size_t>(res.ptr - buf));
    const auto dot = digits.find('.');
    std::string whole(digits.substr(0, dot));
    const std::string_view decimals =
        dot == std::string_view::npos ? std::string_view{} : digits.substr(dot + 1);
    char first = decimals.empty() ? '0' : decimals[0];
    if (decimals.size() > 1 && decimals[1] >= '5') {
        if (first == '9') {
            first = '0';
            increment_digits(whole);
        } else {
            ++first;
        }
    }
    std::string text = value < 0 ? "-" : "";
    text += whole;
    text += point;
    text += first;
    return text;
}

double round_half_even(double value) {
    const double below = std::floor(value);
    const double rest = value - below;
    if (rest > 0.5)
        return below + 1;
    if (rest < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::string whole_number_text(double whole) {
    if (!std::isfinite(whole))
        return {};
    if (whole == 0)
        return "0"; // not "-0"
    char buf[400];  // the largest double has 309 digits
    const auto res = std::to_chars(buf, buf + sizeof buf, whole, std::chars_format::fixed, 0);
    return std::string(buf, res.ptr);
}

double box_number(std::string_view text, std::string_view point) {
    if (point.empty() || point == ".")
        return weather::numeric_value(text);
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
    return weather::numeric_value(with_points);
}

} // namespace main_window
