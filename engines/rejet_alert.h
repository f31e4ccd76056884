// When to tell the tuner to re-jet: the jet the air calls for has stood at least a carburettor
// step away from the jet in the engine for three fresh readings in a row, and when that is over:
// under half a step away for three fresh readings in a row. Readings that are not fresh (idle
// or lost ticks) neither count nor break a run. The alert changes at most once per run of three,
// so air that wavers around the threshold does not make it flicker.
#pragma once

#include <optional>
#include <string>

namespace engines {

class RejetAlert {
public:
    // What a fresh reading changed: the alert fired (with the size to fit) or cleared.
    struct Change {
        bool fired = false;
        double suggested = 0; // the called-for jet rounded to the nearest step
    };

    // A fresh reading: `called_for` is the jet the air calls for, unrounded; the engine has
    // `in_engine` fitted and its carburettor takes jets in steps of `step`.
    std::optional<Change> reading(double called_for, double in_engine, double step);
    // A new baseline, or a new jet fitted: the alert is over, and the runs start again.
    void reset();
    bool on() const { return on_; }

    // "Re-jet: 128 (in the engine 130, step 2)", and a line with the sizes a step either side.
    static std::string describe(double suggested, double in_engine, double step);

private:
    bool on_ = false;
    int run_ = 0; // fresh readings in a row that point the other way
};

} // namespace engines
