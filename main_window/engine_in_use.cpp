// The engine in use, from the settings: its jet for the reference air in txtJetSize at start,
// its baseline in txtJetSize's tooltip, and the re-jet alert on txtCorr when the air has moved
// the called-for jet a step away from the jet in the engine.
#include "frmNimbrel.h"

#include "settings_store.h"

#include <cmath>

namespace main_window {

using namespace window_system;

namespace {

constexpr Colour amber = rgb(255, 192, 0);

} // namespace

void frmNimbrel::load_engine() {
    engine_.reset();
    const engines::Garage garage = engines::load(store_, settings_app);
    if (!garage.in_use)
        return;
    engine_ = garage.engines[*garage.in_use];
    const double jet =
        engine_->baseline ? engines::jet_for_reference(*engine_->baseline) : engine_->jet;
    txtJetSize.set_text(format_number(float(jet), "0.0", "."));
}

// At a tick that shows a fresh reading: `called_for` is the jet the air calls for, unrounded.
void frmNimbrel::judge_rejet(double called_for) {
    if (!engine_)
        return;
    const auto change = alert_.reading(called_for, engine_->jet, engine_->step);
    if (!change)
        return;
    txtCorr.set_back_colour(change->fired ? amber : colours::light_grey);
    rejet_ = change->fired
                 ? engines::RejetAlert::describe(change->suggested, engine_->jet, engine_->step)
                 : std::string();
    log_event(change->fired ? "re-jet " + engines::size_text(change->suggested) : "re-jet cleared");
    calc_jet(); // txtCorr's tooltip says it
}

// "KX125: 130 right at 28.0 °C, 990.0 mb, 40.0 % on 2026-12-10 09:14 (+01:00); density altitude
// since +305 m, density −2.9 %", of the air the jet size is computed from.
std::string frmNimbrel::baseline_text(const air_data::Air& now) const {
    if (!engine_ || !engine_->baseline)
        return engine_ ? engine_->name + ": no baseline yet" : std::string();
    const engines::Baseline& b = *engine_->baseline;
    const Desktop& d = desktop();
    std::string text = engine_->name + ": " + engines::size_text(b.jet) + " right at " +
                       d.format(float(b.air.temperature), "0.0") + " \u00b0C, " +
                       d.format(float(b.air.pressure), "0.0") + " mb, " +
                       d.format(float(b.air.humidity), "0.0") + " % on " + b.when;
    const auto altitude_then = air_data::density_altitude(b.air);
    const auto altitude_now = air_data::density_altitude(now);
    const auto density_then = air_data::density(b.air);
    const auto density_now = air_data::density(now);
    if (altitude_then && altitude_now && density_then && density_now) {
        const double metres = std::round(*altitude_now - *altitude_then);
        const double percent = (*density_now / *density_then - 1) * 100;
        text += "; density altitude since " + std::string(metres >= 0 ? "+" : "\u2212") +
                d.format(float(std::abs(metres)), "0") + " m, density " +
                (percent >= 0 ? "+" : "\u2212") + d.format(float(std::abs(percent)), "0.0") + " %";
    }
    return text;
}

} // namespace main_window
