// The engine in use, from the settings: its jet for the reference air in txtJetSize at start,
// its baseline in txtJetSize's tooltip, and the re-jet alert on txtCorr when the air has moved
// the called-for jet a step away from the jet in the engine; the Engines and Set Baseline
// dialogs that choose it and set its baseline.
#include "frmNimbrel.h"

#include "frmBaseline.h"
#include "frmEngines.h"
#include "row.h"
#include "settings_store.h"

#include <cmath>

namespace main_window {

using namespace window_system;

namespace {

constexpr Colour amber = rgb(255, 192, 0);

// The engine in use of `garage`, if any.
std::optional<engines::Engine> in_use(const engines::Garage& garage) {
    return garage.in_use ? std::optional(garage.engines[*garage.in_use]) : std::nullopt;
}

// The engine's jet for the reference air as the jet size box takes it: one decimal, ".".
std::string reference_jet_text(const engines::Engine& engine) {
    return format_number(float(engines::jet_for_reference(engine)), "0.0", ".");
}

// Whether the two would give the same jet size and the same alert.
bool same_jetting(const std::optional<engines::Engine>& a,
                  const std::optional<engines::Engine>& b) {
    return a.has_value() == b.has_value() &&
           (!a || (a->jet == b->jet && a->step == b->step &&
                   engines::jet_for_reference(*a) == engines::jet_for_reference(*b)));
}

} // namespace

void frmNimbrel::load_engine() {
    engine_ = in_use(engines::load(store_, settings_app));
    if (engine_)
        txtJetSize.set_text(reference_jet_text(*engine_));
}

void frmNimbrel::use_engine(std::optional<engines::Engine> engine) {
    engine_ = std::move(engine);
    if (alert_.on())
        log_event("re-jet cleared");
    alert_.reset();
    rejet_.clear();
    txtCorr.set_back_colour(colours::light_grey);
    if (engine_) {
        txtJetSize.set_text(reference_jet_text(*engine_));
        if (!mnShowJet.checked())
            mnShowJet_Click();
    } else {
        txtJetSize.set_tooltip("");
    }
    mnBaseline.set_enabled(engine_ && last_live_);
    calc_jet();
}

void frmNimbrel::mnEngines_Click() {
    engines_window::frmEngines dialog(
        desktop(), engines::load(store_, settings_app),
        [this](const engines::Engine& engine) { return suggested_jet(engine); });
    dialog.show_modal();
    if (!dialog.result)
        return;
    engines::save(store_, settings_app, *dialog.result);
    std::optional<engines::Engine> chosen = in_use(*dialog.result);
    if (dialog.fitted_in_use || !same_jetting(chosen, engine_)) {
        use_engine(std::move(chosen));
    } else { // a name or a note: the tooltip says it
        engine_ = std::move(chosen);
        calc_jet();
    }
}

void frmNimbrel::mnBaseline_Click() {
    if (!engine_ || !last_live_)
        return;
    const session_log::Stamp stamp{last_live_->utc, platform::utc_offset_minutes(last_live_->utc)};
    engines::Baseline baseline{0, last_live_->air,
                               session_log::time_local(stamp).substr(0, 16) + " (" +
                                   session_log::utc_offset(stamp) + ")"};
    engines_window::frmBaseline dialog(desktop(), *engine_, baseline);
    dialog.show_modal();
    if (!dialog.result)
        return;
    engines::Garage garage = engines::load(store_, settings_app);
    if (!garage.in_use)
        return; // the settings no longer name an engine in use
    engines::Engine& engine = garage.engines[*garage.in_use];
    engine.jet = baseline.jet = *dialog.result;
    engine.baseline = baseline;
    engines::save(store_, settings_app, garage);
    use_engine(engine);
}

void frmNimbrel::note_live_reading() {
    last_live_ =
        LiveReading{{box_value(txtTemperature), box_value(txtPressure), box_value(txtHumidity)},
                    platform::utc_now()};
    mnBaseline.set_enabled(engine_.has_value());
}

std::optional<double> frmNimbrel::suggested_jet(const engines::Engine& engine) const {
    if (!last_live_)
        return std::nullopt;
    return engines::nearest_size(
        engines::jet_for_reference(engine) + engines::correction(last_live_->air), engine.step);
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
