#include "display_numbers.h"

#include "numeric_text.h"

#include <charconv>
#include <cmath>

namespace main_window {

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
