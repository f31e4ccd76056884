// The main window: the three live readings, the jet size correction, the port menu and the
// two settings kept between runs.
#pragma once

#include "adapter_identity.h"
#include "desktop.h"
#include "detection_host.h"
#include "engine.h"
#include "form.h"
#include "frmHistory.h"
#include "rejet_alert.h"
#include "writer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class SettingsStore;
}
namespace weather {
class Link;
}

namespace main_window {

// Where the settings live: application, section and keys.
inline constexpr const char* settings_app = "KORVANE_1";
inline constexpr const char* settings_section = "main";
// The log's own settings, apart from the main ones.
inline constexpr const char* log_section = "log";
inline constexpr const char* correction_section = "correction";

class frmNimbrel : public window_system::Form, public port_detection::DetectionHost {
public:
    // The window works on `link` and `store` for its whole life; both must outlive it.
    frmNimbrel(window_system::Desktop& desktop, weather::Link& link,
               platform::SettingsStore& store);

    // --- What the port detection dialog uses as well ---
    // Rebuilds the port items of the Options menu from a fresh port list.
    void carga_coms() override;
    // Opens `port` (0: none), polls it once and ticks its menu items; true when it opened.
    bool Abrir_puerto(std::int16_t port) override;
    // The detection dialog stops the display tick while it probes a port.
    void stop_timer() override;
    void start_timer() override;

    // --- Controls, in tab order ---
    window_system::TextBox& txtHumidity;
    window_system::TextBox& txtPressure;
    window_system::TextBox& txtTemperature;
    window_system::TextBox& txtJetSize;
    window_system::TextBox& txtCorr;
    window_system::ControlArray<window_system::Label> label{*this, "label"};
    window_system::Image& imgConectado;
    window_system::Image& imgDesconectado;
    window_system::MenuItem& mnoptions;
    // Port items; the layout's item 0 is "none".
    window_system::ControlArray<window_system::MenuItem> mncom{*this, "mncom", 0, "none",
                                                               &mnoptions};
    window_system::MenuItem& mn1;
    window_system::MenuItem& mnAuto;
    window_system::MenuItem& mn2;
    window_system::MenuItem& mnShowJet;
    window_system::MenuItem& mn3;
    window_system::MenuItem& mnHistory;
    window_system::MenuItem& mnMarkRun;
    window_system::MenuItem& mnLog;
    window_system::MenuItem& mnLogFolder;
    window_system::MenuItem& mn4;
    window_system::MenuItem& mnEngines;
    // Enabled while an engine is in use and a live reading of this run is there to set it in.
    window_system::MenuItem& mnBaseline;
    // The dyno correction standard, a submenu of ticked choices in the order of
    // air_data::standard_names.
    window_system::MenuItem& mnStandard;
    std::vector<window_system::MenuItem*> mnStd;
    // The display tick, every 2000 ms from the moment the window exists.
    window_system::Timer& Timer1;

    // The item number of port item `index`: the link's port number for its listed name (the
    // number in it from the fourth character on, or the number of a named port); 0 for "none".
    std::int16_t item_number(std::int16_t index) const;

    // Where the logs of the runs go; a test sets its own folder before the window loads.
    std::string log_folder = platform::log_dir();
    // The graph of the day, opened from the menu.
    history_window::frmHistory history;

private:
    void Form_Load();
    void Form_QueryUnload();
    void Form_KeyDown(int key, int shift);
    void Timer1_Timer();
    void mncom_Click(std::int16_t index);
    void mnAuto_Click();
    void imgConectado_Click();
    void imgDesconectado_Click();
    void mnShowJet_Click();
    void fit_height();
    void calc_jet();

    // --- The log of the run (log_readings.cpp) ---
    // At load: logging as last chosen (on at first start), and the run's "start" row.
    void start_log();
    // At each tick: a row for a port that has changed, a link lost or back, the reading the
    // tick shows when `fresh`; then rows that waited are tried again.
    void log_tick(bool fresh);
    void log_event(const std::string& event);
    void mnHistory_Click();
    void mnMarkRun_Click();
    void mnLog_Click();
    void mnLogFolder_Click();
    // "Log Readings", ticked while logging, and saying why while rows wait.
    void show_log_state();
    // --- The engine in use (engine_in_use.cpp) ---
    void load_engine();
    // Puts `engine` in use, or none: with one, its jet for the reference air goes into
    // txtJetSize, the jet size is computed at once and the jet fields show. The alert is over.
    void use_engine(std::optional<engines::Engine> engine);
    void mnEngines_Click();
    void mnBaseline_Click();
    // At a tick that shows a fresh reading: the air as shown, for a baseline to be set in.
    void note_live_reading();
    // The jet the last live reading calls for in `engine`, rounded to its step.
    std::optional<double> suggested_jet(const engines::Engine& engine) const;
    void judge_rejet(double called_for);
    std::string baseline_text(const air_data::Air& now) const;
    // The standard stored, or the default; a choice from the menu, stored at once.
    void load_standard();
    void mnStd_Click(std::size_t index);

    // The port items of `ports`, a port list just made: carga_coms without the listing.
    void build_port_menu(const std::vector<std::string>& ports);
    // Ticks the port items whose number is the link's port, and no other.
    void tick_port_items();
    // --- Following the station's adapter (follow_station.cpp) ---
    // Looks at the port list while the port is away (lost, or not held) and when devices have
    // changed, and rebuilds the port menu when the list has changed. The user's port is opened
    // again while it is listed and not held, unless another adapter than the one it was held on
    // sits under its number now. A station that has answered on an adapter of its own (USB,
    // with an identity) is followed to another number when exactly one newly listed port is
    // that same adapter: that port is tried, and kept when it gives a plausible reading within
    // two polls. No other port is opened, written to or has its lines raised unless the user
    // chose it. `at_tick`: called by the display tick, which judges the port being tried.
    void follow_station(bool at_tick);
    // What a tick learns of the user's port while it is held: its adapter, and whether a
    // station has answered on it.
    void note_held_port();
    // Whether the user's `port` may be opened on the program's own: not when it was held on an
    // adapter and another one is there now.
    bool may_take(std::int16_t port);
    void try_port(std::int16_t port);
    void judge_try(bool at_tick);
    // The user has chosen a port: what was known of the last one goes.
    void stop_following();

    void show_link_picture(bool connected);
    double box_value(const window_system::TextBox& box) const;
    // Air density, density altitude and dew point of the numbers the jet size is computed
    // from, as the tooltip of the readings and of the calculated jet size.
    void show_air_figures(double humidity, double pressure, double temperature);

    weather::Link& link_;
    platform::SettingsStore& store_;
    // The item number of each port item, from the name the system listed; 0 for "none".
    std::vector<std::int16_t> item_numbers_{0};
    // The port list that the menu was last built from.
    std::vector<std::string> listed_;
    // The user's port as last held, its adapter, and whether a station answered on it this run.
    std::int16_t held_port_ = 0;
    platform::AdapterIdentity held_identity_;
    bool answered_ = false;
    // The port list when the port went away: ports listed then are not the station's adapter.
    std::vector<std::string> listed_at_loss_;
    // Ports tried as the station's adapter; none is tried twice in a run.
    std::vector<std::int16_t> tried_;
    // While a port is tried: the user's port (stored at close until the try succeeds), and the
    // polls made on the port tried.
    std::int16_t home_port_ = 0;
    int try_polls_ = 0;
    bool was_away_ = false;
    bool devices_changed_ = false;
    // The log: its writer, the port of its last "port" row, whether its last link row was
    // "lost", the link's state at the tick before, and the day and number of the last run mark.
    std::unique_ptr<session_log::Writer> log_;
    std::int16_t logged_port_ = -1;
    bool logged_lost_ = false;
    int last_link_kind_ = 0;
    std::string run_day_;
    int run_number_ = 0;
    // The dyno correction standard the tooltips and the log give the factor by.
    std::size_t standard_ = 0;
    // The engine in use, when the settings name one; its re-jet alert and what it says.
    std::optional<engines::Engine> engine_;
    engines::RejetAlert alert_;
    // The last live reading of this run as shown, and when (seconds since 1970 UTC).
    struct LiveReading {
        air_data::Air air;
        std::int64_t utc = 0;
    };
    std::optional<LiveReading> last_live_;
    std::string rejet_;
    // The jet the air calls for, unrounded, as the jet correction last computed it.
    double called_for_ = 0;
};

} // namespace main_window
