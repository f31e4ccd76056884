#include "correction_factor.h"

#include <charconv>
#include <cmath>

namespace air_data {

std::optional<double> correction_factor(Standard standard, const Air& air) {
    const auto dry = dry_air_pressure(air);
    const double kelvin = air.temperature + 273.15;
    if (!dry || *dry <= 0 || !(kelvin > 0) || !(air.pressure > 0))
        return std::nullopt;
    switch (standard) {
    case Standard::sae_j1349:
        return 1.18 * (990 / *dry) * std::sqrt(kelvin / 298) - 0.18;
    case Standard::sae_j607:
        return (1013.2 / *dry) * std::sqrt(kelvin / 288.7);
    case Standard::din_70020:
        return (1013 / air.pressure) * std::sqrt(kelvin / 293);
    case Standard::iso_1585:
        return std::pow(990 / *dry, 1.2) * std::pow(kelvin / 298, 0.6);
    case Standard::none:
        break;
    }
    return std::nullopt;
}

std::string describe_correction(Standard standard, const Air& air,
                                const std::string& decimal_point) {
    const auto factor = correction_factor(standard, air);
    if (!factor || !std::isfinite(*factor))
        return {};
    const StandardName& name = standard_names[int(standard)];
    char digits[64];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, *factor, std::chars_format::fixed, 3);
    std::string number(digits, end.ptr);
    number.replace(number.find('.'), 1, decimal_point);
    std::string line = std::string(name.caption) + " correction factor " + number + " (reference " +
                       name.reference + ")";
    if (*factor < usual_factor_low || *factor > usual_factor_high)
        line += " \u00b7 outside 0.93\u20131.07: give the test air with the result";
    return line;
}

} // namespace air_data
