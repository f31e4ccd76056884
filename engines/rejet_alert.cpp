#include "rejet_alert.h"

#include "engine.h"

#include <cmath>

namespace engines {

namespace {

constexpr int readings_in_a_row = 3;

} // namespace

std::optional<RejetAlert::Change> RejetAlert::reading(double called_for, double in_engine,
                                                      double step) {
    if (!std::isfinite(called_for) || !std::isfinite(in_engine) || !(step > 0))
        return std::nullopt;
    const double off = std::abs(called_for - in_engine);
    const bool other_way = on_ ? off < step / 2 : off >= step;
    run_ = other_way ? run_ + 1 : 0;
    if (run_ < readings_in_a_row)
        return std::nullopt;
    on_ = !on_;
    run_ = 0;
    return Change{on_, nearest_size(called_for, step)};
}

void RejetAlert::reset() {
    on_ = false;
    run_ = 0;
}

std::string RejetAlert::describe(double suggested, double in_engine, double step) {
    return "Re-jet: " + size_text(suggested) + " (in the engine " + size_text(in_engine) +
           ", step " + size_text(step) + ")\nOne step either side: " + size_text(suggested - step) +
           " and " + size_text(suggested + step);
}

} // namespace engines
