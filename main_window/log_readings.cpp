// The main window's log of the run: a row for every reading the display tick shows, rows for
// the run's events (start and stop, the port, a link lost and back, run marks), the readings
// and marks the History window draws, and the items of the Options menu that open History,
// mark a run, turn logging on and off and open the log folder.
#include "frmNimbrel.h"

#include "air_data.h"
#include "correction_factor.h"
#include "numeric_text.h"
#include "reader.h"
#include "settings_store.h"
#include "weather.h"

#include <charconv>
#include <cmath>

namespace main_window {

using namespace window_system;

namespace {

// The log's numbers: "." as the decimal point whatever the user's locale.
std::string logged(std::optional<double> value, std::string_view pattern) {
    return value && std::isfinite(*value) ? format_number(float(*value), pattern, ".") : "";
}

// The shortest text that gives back the number the jet correction read.
std::string shortest(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value);
    return std::isfinite(value) ? std::string(text, end.ptr) : "";
}

session_log::Stamp now() {
    const std::int64_t utc = platform::utc_now();
    return {utc, platform::utc_offset_minutes(utc)};
}

// "2026-12-10": the local day of a moment.
std::string day_of(const session_log::Stamp& stamp) {
    return session_log::time_local(stamp).substr(0, 10);
}

} // namespace

void frmNimbrel::start_log() {
    log_ = std::make_unique<session_log::Writer>(log_folder);
    const std::string stored = store_.get(settings_app, log_section, "log_readings", "1");
    mnLog.set_checked(weather::numeric_value(stored) != 0);
    log_event("start");
    show_log_state();
}

void frmNimbrel::log_event(const std::string& event) {
    if (log_ && mnLog.checked())
        log_->add(session_log::Entry::of_event(event));
}

void frmNimbrel::log_tick(bool fresh) {
    if (!log_)
        return;
    const weather::LinkState& state = link_.state;
    // The ports the detection dialog probes are not the window's: its port is logged once the
    // dialog has ended.
    if (state.com_port != logged_port_ && !desktop().top_modal()) {
        logged_port_ = state.com_port;
        log_event(state.com_port == 0 ? "port none" : "port " + link_.port_name(state.com_port));
    }
    // Lost after the misses in a row; a port just opened has no link yet and is not lost.
    if (last_link_kind_ > 0 && state.link_kind == 0 && state.miss_count >= 0) {
        log_event("lost");
        logged_lost_ = true;
    } else if (logged_lost_ && state.link_kind > 0) {
        log_event("back");
        logged_lost_ = false;
    }
    last_link_kind_ = state.link_kind;
    const std::int64_t utc = platform::utc_now();
    history.tick(utc);
    if (fresh) {
        session_log::Entry e;
        e.temperature = logged(state.temperature, "0.0");
        e.pressure = logged(state.pressure, "0.0");
        e.humidity = logged(state.humidity, "0.0");
        // The air figures of the values as shown.
        const air_data::Air air{weather::numeric_value(e.temperature),
                                weather::numeric_value(e.pressure),
                                weather::numeric_value(e.humidity)};
        e.density = logged(air_data::density(air), "0.000");
        e.density_altitude = logged(air_data::density_altitude(air), "0");
        e.dew_point = logged(air_data::dew_point(air), "0.0");
        e.vapour_pressure = logged(air_data::vapour_pressure(air), "0.0");
        e.jet_original = shortest(box_value(txtJetSize));
        e.jet_calculated = txtCorr.text();
        e.port = link_.port_name(state.com_port);
        const air_data::StandardName& standard = air_data::standard_names[standard_];
        e.correction_factor = logged(air_data::correction_factor(standard.standard, air), "0.000");
        if (!e.correction_factor.empty())
            e.correction_standard = standard.caption;
        if (mnLog.checked())
            log_->add(e);
        history.add_reading(utc, {air.temperature, air.pressure, air.humidity,
                                  air_data::density_altitude(air),
                                  e.jet_calculated.empty()
                                      ? std::nullopt
                                      : std::optional(weather::numeric_value(e.jet_calculated))});
    }
    log_->tick();
    show_log_state();
}

// Run marks are numbered from 1 each day, also across runs of the program: the first mark of a
// run looks for the day's last one in the logs.
void frmNimbrel::mnMarkRun_Click() {
    const session_log::Stamp stamp = now();
    const std::string day = day_of(stamp);
    if (day != run_day_) {
        run_day_ = day;
        run_number_ = 0;
        for (const auto& [at, entry] : session_log::read_since(log_folder, stamp.utc - 86400 * 2))
            if (day_of(at) == day && entry.event.rfind("run ", 0) == 0)
                run_number_ =
                    std::max(run_number_, int(weather::numeric_value(entry.event.substr(4))));
    }
    log_event("run " + std::to_string(++run_number_));
    history.add_mark(stamp.utc, run_number_);
}

void frmNimbrel::mnHistory_Click() {
    // With logging off, this run's readings alone.
    history.log_folder = mnLog.checked() ? log_folder : std::string();
    history.own_log = log_ ? log_->name() : std::string();
    history.open();
}

void frmNimbrel::mnLog_Click() {
    const bool on = !mnLog.checked();
    log_event("stop"); // nothing while logging is off
    mnLog.set_checked(on);
    store_.save(settings_app, log_section, "log_readings", on ? "1" : "0");
    logged_port_ = -1; // a log that starts again says the port again
    log_event("start");
    show_log_state();
}

void frmNimbrel::mnLogFolder_Click() {
    platform::make_dirs(log_folder);
    platform::show_folder(log_folder);
}

void frmNimbrel::show_log_state() {
    const std::string why = log_ && mnLog.checked() ? log_->held_up() : std::string();
    mnLog.set_caption(why.empty() ? "Log Readings" : "Log Readings (held up: " + why + ")");
    history.set_log_state(why);
}

} // namespace main_window
