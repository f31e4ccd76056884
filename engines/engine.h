// The user's engines: each with the jet in it now, its carburettor's jet step, the baseline it
// ran right on (a jet and the air it was right in) and a free note. The jet correction is
// linear in the air, so a baseline needs nothing new: the jet for the reference air is the
// baseline's jet less the correction of the baseline's air, and the correction then gives the
// baseline's jet again in the baseline's air and follows the air from there.
#pragma once

#include "air_data.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {
class SettingsStore;
}

namespace engines {

inline constexpr std::size_t most_engines = 10;
// The jet steps carburettors come in; 2 unless the user says otherwise.
inline constexpr double jet_steps[] = {0.5, 1, 2, 2.5, 5};
inline constexpr double default_step = 2;

struct Baseline {
    double jet = 0;
    air_data::Air air; // the readings as shown when it was set
    std::string when;  // "2026-12-10 09:14 (+01:00)"
};

struct Engine {
    std::string name;
    double jet = 0; // in the engine now
    double step = default_step;
    std::optional<Baseline> baseline;
    std::string note; // needle, clip, air screw, float
};

// A jet size as the tuner writes it: "128", "127.5".
std::string size_text(double size);
// The jet size correction of the main window for `air`, in sizes.
double correction(const air_data::Air& air);
// The jet for the reference air that gives the baseline's jet in the baseline's air.
double jet_for_reference(const Baseline& baseline);
// The engine's jet for the reference air: from its baseline, or without one the jet in it.
double jet_for_reference(const Engine& engine);
// The jet size nearest `jet` that a carburettor with jet step `step` takes.
double nearest_size(double jet, double step);

struct Garage {
    std::vector<Engine> engines;
    std::optional<std::size_t> in_use;
};

// The engines as stored, section "engines" of `app`; whatever is missing or unreadable there
// gives the defaults (no engines, or an engine's defaults), never an error.
Garage load(platform::SettingsStore& store, const std::string& app);
void save(platform::SettingsStore& store, const std::string& app, const Garage& garage);

} // namespace engines
