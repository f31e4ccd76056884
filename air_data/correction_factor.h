// The factor a dyno multiplies measured power by to give it at a standard's reference air, for
// the standards shops use. Each standard names its reference air; the factor of air that is far
// from it says more about the air than about the engine.
#pragma once

#include "air_data.h"

#include <optional>
#include <string>

namespace air_data {

enum class Standard { sae_j1349, sae_j607, din_70020, iso_1585, none };

struct StandardName {
    Standard standard;
    const char* caption;   // as the menu and the log name it
    const char* reference; // its reference air, for the user
};

// In the order the menu lists them; SAE J1349 is the default.
inline constexpr StandardName standard_names[] = {
    {Standard::sae_j1349, "SAE J1349", "25 \u00b0C, 990 mbar dry air"},
    {Standard::sae_j607, "SAE J607 (STD)", "15.6 \u00b0C, 1013.2 mbar dry air"},
    {Standard::din_70020, "DIN 70020", "20 \u00b0C, 1013 mbar"},
    {Standard::iso_1585, "ISO 1585 / EEC 80/1269", "25 \u00b0C, 990 mbar dry air"},
    {Standard::none, "none", ""},
};

// Factors outside this range ask for the test air to be given with the result.
inline constexpr double usual_factor_low = 0.93;
inline constexpr double usual_factor_high = 1.07;

// The factor of `air` by `standard`; none for Standard::none or air that gives no factor.
std::optional<double> correction_factor(Standard standard, const Air& air);
// One line for the user: "SAE J1349 correction factor 1.012 (reference 25 °C, 990 mbar dry
// air)", with a warning at its end outside the usual range; empty when there is no factor.
std::string describe_correction(Standard standard, const Air& air,
                                const std::string& decimal_point = ".");

} // namespace air_data
