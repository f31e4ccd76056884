// Figures of the air from the three readings: how dense it is, what altitude of the standard
// atmosphere has that density, and how much water it holds. Pure functions; a figure that the
// input cannot give (humidity outside 0-100 %, a temperature at or below absolute zero, a
// pressure of 0 or less, a number that is not finite) is std::nullopt, never a wrong number.
#pragma once

#include <optional>

namespace air_data {

struct Air {
    double temperature = 0; // degrees Celsius
    double pressure = 0;    // millibar (hectopascal)
    double humidity = 0;    // percent relative humidity
};

// The air at which the jet correction is zero.
inline constexpr Air reference_air{20, 1000, 50};
// Density of the ICAO standard atmosphere at sea level (15 degrees C, 1013.25 mbar, dry), kg/m3.
inline constexpr double standard_density = 1.225;

// Saturation vapour pressure over water at `temperature` degrees C, in mbar.
std::optional<double> saturation_vapour_pressure(double temperature);
// Partial pressure of the water vapour, in mbar.
std::optional<double> vapour_pressure(const Air& air);
// Partial pressure of the dry air, in mbar.
std::optional<double> dry_air_pressure(const Air& air);
// Density of the moist air, in kg/m3.
std::optional<double> density(const Air& air);
// Density as a fraction of the reference air's, and of the standard sea-level density.
std::optional<double> density_vs_reference(const Air& air);
std::optional<double> density_vs_standard(const Air& air);
// Altitude in the standard atmosphere at which the density equals this air's, in metres.
std::optional<double> density_altitude(const Air& air);
// Temperature at which this air would become saturated, in degrees C.
std::optional<double> dew_point(const Air& air);

} // namespace air_data

#include <string>

namespace air_data {

// One line for the user, e.g. "Air density 1.132 kg/m³ (95.7 % of the reference air) · Density
// altitude 818 m · Dew point 20.2 °C · Vapour pressure 23.7 mbar", with `decimal_point` as the
// decimal separator (UTF-8). Figures that the air cannot give are left out; with no density
// the whole line is a short sentence that says so.
std::string describe(const Air& air, const std::string& decimal_point = ".");

} // namespace air_data
