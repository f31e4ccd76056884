#include "sentence.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace station_sim {

namespace {

constexpr double millibar_per_inhg = 33.8638;

// `v` with `decimals` places after the ".". std::to_chars ignores the locale.
std::string fixed(double v, int decimals) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
    std::string s(text, ec == std::errc{} ? end : text);
    // A small negative value rounds to "-0.0"; the sign would only puzzle whoever reads it.
    if (s.starts_with('-') && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1);
    return s;
}

double wander(double value, double centre, double step, double reach, double lo, double hi,
              std::mt19937& rng) {
    value += std::uniform_real_distribution<double>(-step, step)(rng);
    value = std::clamp(value, centre - reach, centre + reach);
    return std::clamp(value, lo, hi);
}

} // namespace

std::string sentence(Format format, const Reading& r) {
    if (format == Format::hash)
        return "$#" + fixed(r.humidity, 1) + ",1," + fixed(r.temperature, 1) + ",2," +
               std::to_string(std::llround(r.pressure * 100));
    return "$1," + fixed(r.temperature * 1.8 + 32, 1) + "," + fixed(r.humidity, 1) + ",2," +
           fixed(r.pressure / millibar_per_inhg, 3) + "*";
}

Drift::Drift(const Reading& centre, unsigned seed) : centre_(centre), now_(centre), rng_(seed) {}

const Reading& Drift::step() {
    constexpr double unbounded = 1e9;
    now_.humidity =
        wander(now_.humidity, centre_.humidity, step_size.humidity, reach.humidity, 0, 100, rng_);
    now_.pressure = wander(now_.pressure, centre_.pressure, step_size.pressure, reach.pressure, 0,
                           unbounded, rng_);
    now_.temperature = wander(now_.temperature, centre_.temperature, step_size.temperature,
                              reach.temperature, -unbounded, unbounded, rng_);
    return now_;
}

} // namespace station_sim
