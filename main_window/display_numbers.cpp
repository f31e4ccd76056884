#include "display_numbers.h"

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

} // namespace main_window
