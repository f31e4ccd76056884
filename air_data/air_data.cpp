#include "air_data.h"

#include <cmath>

namespace air_data {

namespace {

// Specific gas constants of dry air and of water vapour, J/(kg K) (as used with the
// CIPM-2007 air density equation and in most meteorology texts).
constexpr double R_dry = 287.05;
constexpr double R_vapour = 461.495;
constexpr double kelvin_offset = 273.15;

bool valid(const Air& a) {
    return std::isfinite(a.temperature) && std::isfinite(a.pressure) && std::isfinite(a.humidity) &&
           a.temperature > -kelvin_offset && a.pressure > 0 && a.humidity >= 0 && a.humidity <= 100;
}

std::optional<double> finite(double v) {
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace

std::optional<double> saturation_vapour_pressure(double t) {
    if (!std::isfinite(t) || t <= -kelvin_offset)
        return std::nullopt;
    // Buck (1996), over water: 6.1121 exp((18.678 - T/234.5) (T / (257.14 + T))) hPa.
    return finite(6.1121 * std::exp((18.678 - t / 234.5) * (t / (257.14 + t))));
}

std::optional<double> vapour_pressure(const Air& a) {
    if (!valid(a))
        return std::nullopt;
    const auto es = saturation_vapour_pressure(a.temperature);
    if (!es)
        return std::nullopt;
    return finite(a.humidity / 100 * *es);
}

std::optional<double> dry_air_pressure(const Air& a) {
    const auto e = vapour_pressure(a);
    if (!e)
        return std::nullopt;
    return finite(a.pressure - *e);
}

std::optional<double> density(const Air& a) {
    const auto e = vapour_pressure(a);
    if (!e)
        return std::nullopt;
    // The ideal-gas sum of both parts: rho = p_d / (R_d T) + e / (R_v T), pressures in Pa.
    const double t = a.temperature + kelvin_offset;
    const double rho = (a.pressure - *e) * 100 / (R_dry * t) + *e * 100 / (R_vapour * t);
    if (!(rho > 0))
        return std::nullopt; // more vapour than the total pressure allows
    return finite(rho);
}

std::optional<double> density_vs_reference(const Air& a) {
    const auto rho = density(a);
    const auto ref = density(reference_air);
    if (!rho || !ref)
        return std::nullopt;
    return finite(*rho / *ref);
}

std::optional<double> density_vs_standard(const Air& a) {
    const auto rho = density(a);
    if (!rho)
        return std::nullopt;
    return finite(*rho / standard_density);
}

std::optional<double> density_altitude(const Air& a) {
    const auto ratio = density_vs_standard(a);
    if (!ratio)
        return std::nullopt;
    // The troposphere of the standard atmosphere solved for height: 44330.8 (1 - sigma^0.234969)
    // metres, where sigma is the density ratio.
    return finite(44330.8 * (1 - std::pow(*ratio, 0.234969)));
}

std::optional<double> dew_point(const Air& a) {
    if (!valid(a) || a.humidity <= 0)
        return std::nullopt; // perfectly dry air has no dew point
    // Magnus formula with the coefficients of Alduchov and Eskridge (1996): 17.625, 243.04 C.
    const double b = 17.625, c = 243.04;
    const double gamma = std::log(a.humidity / 100) + b * a.temperature / (c + a.temperature);
    return finite(c * gamma / (b - gamma));
}

} // namespace air_data

#include <charconv>

namespace air_data {

namespace {

// Fixed-point text, independent of the C library's locale.
std::string fixed(double v, int decimals, const std::string& decimal_point) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s(buf, r.ptr);
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1); // no "-0" for a value that rounds to zero
    if (const auto p = s.find('.'); p != std::string::npos)
        s.replace(p, 1, decimal_point);
    return s;
}

} // namespace

std::string describe(const Air& air, const std::string& dp) {
    const auto rho = density(air);
    const auto vs_ref = density_vs_reference(air);
    const auto altitude = density_altitude(air);
    if (!rho || !vs_ref || !altitude)
        return "No air data: these readings do not describe air.";
    std::string s =
        "Air density " + fixed(*rho, 3, dp) + " kg/m\u00b3 (" + fixed(*vs_ref * 100, 1, dp) +
        " % of the reference air) \u00b7 Density altitude " + fixed(*altitude, 0, dp) + " m";
    if (const auto dew = dew_point(air))
        s += " \u00b7 Dew point " + fixed(*dew, 1, dp) + " \u00b0C";
    if (const auto e = vapour_pressure(air))
        s += " \u00b7 Vapour pressure " + fixed(*e, 1, dp) + " mbar";
    return s;
}

} // namespace air_data
