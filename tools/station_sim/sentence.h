// What the simulated station sends: one sentence per poll in either of the two formats that
// stations use, with readings that stay put or wander slowly.
#pragma once

#include <random>
#include <string>

namespace station_sim {

enum class Format { hash, star };

struct Reading {
    double humidity = 50;      // percent
    double pressure = 1013.25; // millibar
    double temperature = 20;   // degrees Celsius
};

// The sentence for `r` without its line end. Numbers always take "." as the decimal point,
// whatever the user's locale: the program reads them that way.
//   hash: "$#<humidity>,1,<temperature C>,2,<pressure Pa>"
//   star: "$1,<temperature F>,<humidity>,2,<pressure inHg>*"
std::string sentence(Format format, const Reading& r);

// A slow random walk around a centre reading: every step moves each value by at most
// `step_size`, never further than `reach` from the centre, and keeps humidity within 0-100 %
// and pressure at 0 or above.
class Drift {
public:
    static constexpr Reading step_size{0.2, 0.05, 0.05};
    static constexpr Reading reach{10, 3, 3};

    Drift(const Reading& centre, unsigned seed);
    // Moves one step and returns the new reading.
    const Reading& step();

private:
    Reading centre_;
    Reading now_;
    std::mt19937 rng_;
};

} // namespace station_sim
