#include "engine.h"

#include "numeric_text.h"
#include "settings_store.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace engines {

namespace {

constexpr const char* section = "engines";

std::string number_text(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

// A finite number from the store, or `fallback`.
double number(platform::SettingsStore& store, const std::string& app, const std::string& key,
              double fallback) {
    const std::string text = store.get(app, section, key, "");
    const double value = text.empty() ? fallback : weather::numeric_value(text);
    return std::isfinite(value) ? value : fallback;
}

} // namespace

std::string size_text(double size) {
    return number_text(std::round(size * 100) / 100);
}

double correction(const air_data::Air& air) {
    return (air.humidity - 50) * -0.04 + (air.pressure - 1000) * 0.05 +
           (air.temperature - 20) * -0.25;
}

double jet_for_reference(const Baseline& baseline) {
    return baseline.jet - correction(baseline.air);
}

double jet_for_reference(const Engine& engine) {
    return engine.baseline ? jet_for_reference(*engine.baseline) : engine.jet;
}

double nearest_size(double jet, double step) {
    return std::round(jet / step) * step;
}

Garage load(platform::SettingsStore& store, const std::string& app) {
    Garage garage;
    const double count = number(store, app, "count", 0);
    for (std::size_t i = 0; i < std::min<double>(std::max(count, 0.0), most_engines); ++i) {
        const std::string k = "engine" + std::to_string(i + 1) + "_";
        Engine e;
        e.name = store.get(app, section, k + "name", "Engine " + std::to_string(i + 1));
        e.jet = std::max(0.0, number(store, app, k + "jet", 0));
        e.step = number(store, app, k + "step", default_step);
        if (std::find(std::begin(jet_steps), std::end(jet_steps), e.step) == std::end(jet_steps))
            e.step = default_step;
        if (number(store, app, k + "baseline_jet", 0) > 0)
            e.baseline = Baseline{number(store, app, k + "baseline_jet", 0),
                                  {number(store, app, k + "baseline_temperature", 20),
                                   number(store, app, k + "baseline_pressure", 1000),
                                   number(store, app, k + "baseline_humidity", 50)},
                                  store.get(app, section, k + "baseline_when", "")};
        e.note = store.get(app, section, k + "note", "");
        garage.engines.push_back(std::move(e));
    }
    const double in_use = number(store, app, "in_use", 0);
    if (in_use >= 1 && in_use <= double(garage.engines.size()) && in_use == std::floor(in_use))
        garage.in_use = std::size_t(in_use) - 1;
    return garage;
}

void save(platform::SettingsStore& store, const std::string& app, const Garage& garage) {
    store.save(app, section, "count", std::to_string(garage.engines.size()));
    for (std::size_t i = 0; i < garage.engines.size(); ++i) {
        const Engine& e = garage.engines[i];
        const std::string k = "engine" + std::to_string(i + 1) + "_";
        store.save(app, section, k + "name", e.name);
        store.save(app, section, k + "jet", number_text(e.jet));
        store.save(app, section, k + "step", number_text(e.step));
        store.save(app, section, k + "baseline_jet",
                   e.baseline ? number_text(e.baseline->jet) : "");
        if (e.baseline) {
            store.save(app, section, k + "baseline_temperature",
                       number_text(e.baseline->air.temperature));
            store.save(app, section, k + "baseline_pressure",
                       number_text(e.baseline->air.pressure));
            store.save(app, section, k + "baseline_humidity",
                       number_text(e.baseline->air.humidity));
            store.save(app, section, k + "baseline_when", e.baseline->when);
        }
        store.save(app, section, k + "note", e.note);
    }
    store.save(app, section, "in_use", garage.in_use ? std::to_string(*garage.in_use + 1) : "0");
}

} // namespace engines
