// The History window: one graph of the day's air and jet over a shared time axis, from the logs
// of earlier runs and the readings of this one, scrolling at every reading; spans of an hour,
// four hours and the day; run marks; and a line that says when logging is held up.
#pragma once

#include "form.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace history_window {

// The strips, top to bottom.
enum Strip { temperature, pressure, humidity, density_altitude, jet, strips };

class frmHistory : public window_system::Form {
public:
    explicit frmHistory(window_system::Desktop& desktop);

    window_system::Button& cmdHour;
    window_system::Button& cmd4Hours;
    window_system::Button& cmdDay;
    window_system::Label& lblLog;
    window_system::Graph& grfHistory;

    // Where earlier runs' logs are read from, and the name of this run's own log, which is left
    // out (its readings are the ones handed over here); empty folder: this run's readings alone.
    std::string log_folder;
    std::string own_log;
    // F2 here marks a run as it does in the main window.
    std::function<void()> on_mark_run;

    // A reading of this run, a value per strip; kept whether the window is open or not.
    void add_reading(std::int64_t utc, const std::vector<std::optional<double>>& values);
    void add_mark(std::int64_t utc, int number);
    // Why logging is held up; empty while it is not.
    void set_log_state(const std::string& why);
    // At every tick of the main window: the graph's right edge moves on to `utc`, so that a
    // station that has gone silent shows as a gap growing at the right.
    void tick(std::int64_t utc);
    // Opens the window, or brings it to the front when it is open.
    void open();

private:
    void Form_Load();
    void show_span(std::int64_t seconds);

    // A reading of this run as History keeps it: in one block made at the start, so that a
    // day of readings takes no memory beyond it.
    struct Kept {
        std::int64_t utc = 0;
        std::array<double, strips> values{};
        std::uint8_t present = 0; // bit i: values[i] is a reading
    };
    static window_system::Sample sample_of(const Kept& kept);

    std::vector<Kept> run_readings_;
    std::vector<window_system::RunMark> run_marks_;
    std::int64_t span_ = 3600;
};

} // namespace history_window
