#include "frmHistory.h"

#include "desktop.h"
#include "log_file.h"
#include "numeric_text.h"
#include "reader.h"

#include <algorithm>

namespace history_window {

using namespace window_system;

namespace {

// A day at one reading every two seconds, and then some.
constexpr std::size_t kept_readings = 2 * 43200;
constexpr std::int64_t day = 86400;

const std::vector<Series> strip_series = {
    {"Temperature", "\u00B0C", 1, rgb(200, 0, 0)}, {"Pressure", "mb", 1, rgb(0, 0, 200)},
    {"Humidity", "%", 1, rgb(0, 130, 0)},          {"Density altitude", "m", 0, rgb(130, 0, 130)},
    {"Calculated jet", "", 0, rgb(200, 100, 0)},
};

std::optional<double> value_of(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    return weather::numeric_value(text);
}

} // namespace

frmHistory::frmHistory(Desktop& desktop)
    : Form(desktop, "frmHistory"), cmdHour(add<Button>("cmdHour")),
      cmd4Hours(add<Button>("cmd4Hours")), cmdDay(add<Button>("cmdDay")),
      lblLog(add<Label>("lblLog")), grfHistory(add<Graph>("grfHistory")) {
    set_caption("History");
    set_client_size(9600, 6600);
    set_back_colour(rgb(240, 240, 255));
    key_preview = true;
    const std::pair<Button*, const char*> buttons[] = {
        {&cmdHour, "1 h"}, {&cmd4Hours, "4 h"}, {&cmdDay, "Day"}};
    Twips left = 120;
    for (const auto& [button, caption] : buttons) {
        button->place({left, 90, 900, 345});
        button->set_caption(caption);
        left += 1020;
    }
    cmdHour.on_click = [this] { show_span(3600); };
    cmd4Hours.on_click = [this] { show_span(4 * 3600); };
    cmdDay.on_click = [this] { show_span(day); };
    lblLog.move(3300, 150);
    lblLog.set_fore_colour(colours::red);
    lblLog.set_visible(false);
    run_readings_.reserve(kept_readings);
    grfHistory.place({120, 540, 9360, 5940});

    on_load = [this] { Form_Load(); };
    on_key_down = [this](int key, int) {
        if (key == key_escape)
            unload();
        else if (key == key_f2 && on_mark_run)
            on_mark_run();
    };
}

Sample frmHistory::sample_of(const Kept& kept) {
    Sample sample{kept.utc, std::vector<std::optional<double>>(strips)};
    for (std::size_t i = 0; i < kept.values.size(); ++i)
        if (kept.present & (1u << i))
            sample.values[i] = kept.values[i];
    return sample;
}

void frmHistory::open() {
    if (shown())
        bring_to_front();
    else
        show();
}

// Earlier runs come from their logs; this run's readings from memory, so that they are there
// with logging off or held up too.
void frmHistory::Form_Load() {
    Plot plot;
    plot.series = strip_series;
    plot.point = desktop().decimal_separator();
    plot.offset_at = platform::utc_offset_minutes;
    plot.span = span_;
    const std::int64_t now = platform::utc_now();
    if (!log_folder.empty()) {
        plot.samples.reserve(day / 2 + run_readings_.size());
        session_log::each_row_since(
            log_folder, now - day, own_log,
            [&](const session_log::Stamp& stamp, session_log::Entry& e) {
                if (e.event.rfind("run ", 0) == 0)
                    plot.marks.push_back(
                        {stamp.utc, int(weather::numeric_value(e.event.substr(4)))});
                else if (e.event.empty() && !e.pressure.empty())
                    plot.samples.push_back(
                        {stamp.utc,
                         {value_of(e.temperature), value_of(e.pressure), value_of(e.humidity),
                          value_of(e.density_altitude), value_of(e.jet_calculated)}});
            });
    }
    for (const Kept& kept : run_readings_)
        plot.samples.push_back(sample_of(kept));
    const auto earlier = [](const Sample& a, const Sample& b) { return a.utc < b.utc; };
    if (!std::is_sorted(plot.samples.begin(), plot.samples.end(), earlier))
        std::stable_sort(plot.samples.begin(), plot.samples.end(), earlier);
    plot.marks.insert(plot.marks.end(), run_marks_.begin(), run_marks_.end());
    plot.end = now;
    grfHistory.set_plot(std::move(plot));
}

void frmHistory::add_reading(std::int64_t utc, const std::vector<std::optional<double>>& values) {
    if (run_readings_.size() >= kept_readings)
        run_readings_.erase(run_readings_.begin(), run_readings_.begin() + kept_readings / 4);
    Kept kept{utc};
    for (std::size_t i = 0; i < values.size() && i < kept.values.size(); ++i)
        if (values[i]) {
            kept.values[i] = *values[i];
            kept.present |= std::uint8_t(1u << i);
        }
    run_readings_.push_back(kept);
    if (loaded())
        grfHistory.update_plot([&](Plot& plot) {
            plot.samples.push_back(sample_of(run_readings_.back()));
            plot.end = std::max(plot.end, utc);
            // Readings older than the longest span go, an hour's worth at a time.
            if (plot.samples.front().utc < plot.end - day - 3600) {
                const auto kept =
                    std::find_if(plot.samples.begin(), plot.samples.end(),
                                 [&](const Sample& s) { return s.utc >= plot.end - day; });
                plot.samples.erase(plot.samples.begin(), kept);
            }
        });
}

void frmHistory::tick(std::int64_t utc) {
    if (loaded() && utc > grfHistory.plot().end)
        grfHistory.update_plot([&](Plot& plot) { plot.end = utc; });
}

void frmHistory::add_mark(std::int64_t utc, int number) {
    run_marks_.push_back({utc, number});
    if (loaded())
        grfHistory.update_plot([&](Plot& plot) { plot.marks.push_back(run_marks_.back()); });
}

void frmHistory::set_log_state(const std::string& why) {
    lblLog.set_caption(why.empty() ? "" : "Logging held up: " + why);
    lblLog.set_visible(!why.empty());
}

void frmHistory::show_span(std::int64_t seconds) {
    span_ = seconds;
    grfHistory.update_plot([&](Plot& plot) { plot.span = seconds; });
}

} // namespace history_window
