// The log and the History window on a day of readings (43,200 rows, one every two seconds):
// opening History (reading the day's log and drawing the graph once), a repaint, what a tick
// adds while History is open, and writing one row of the log.
#include "desktop.h"
#include "frmHistory.h"
#include "headless.h"
#include "plot.h"
#include "temp_dir.h"
#include "writer.h"

#include <benchmark/benchmark.h>
#include <cmath>

namespace {

constexpr int day_rows = 43200;

session_log::Entry reading(int i) {
    session_log::Entry e;
    e.temperature = std::to_string(20 + int(5 * std::sin(i / 3000.0))) + ".5";
    e.pressure = "1013.2";
    e.humidity = "45.0";
    e.density = "1.201";
    e.density_altitude = "245";
    e.dew_point = "8.1";
    e.vapour_pressure = "10.8";
    e.jet_original = "150";
    e.jet_calculated = "148";
    e.port = "COM5";
    return e;
}

// A day's log that ends now, in a folder of its own.
struct DayOfLogs {
    DayOfLogs() {
        std::int64_t t = platform::utc_now() - 2 * day_rows;
        session_log::Writer w(dir.path(), {[&t] { return t; }, [](std::int64_t) { return 60; }});
        for (int i = 0; i < day_rows; ++i, t += 2)
            w.add(reading(i));
    }
    test_support::TempDir dir;
};

DayOfLogs& day() {
    static DayOfLogs logs;
    return logs;
}

void BM_OpenHistoryOnADay(benchmark::State& state) {
    window_system::headless::Backend backend;
    window_system::Desktop desktop(backend);
    history_window::frmHistory history(desktop);
    history.log_folder = day().dir.path();
    for (auto _ : state) {
        history.open(); // the day's log read and drawn once
        benchmark::DoNotOptimize(backend.painted[&history.grfHistory].size());
        state.PauseTiming();
        history.unload();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenHistoryOnADay)->Unit(benchmark::kMillisecond);

struct OpenHistory {
    OpenHistory() {
        history.log_folder = day().dir.path();
        history.open();
    }
    window_system::headless::Backend backend;
    window_system::Desktop desktop{backend};
    history_window::frmHistory history{desktop};
    const window_system::Canvas canvas{624, 396, 13, 6};
};

void BM_RepaintADay(benchmark::State& state) {
    OpenHistory open;
    for (auto _ : state)
        benchmark::DoNotOptimize(draw(open.history.grfHistory.plot(), open.canvas));
}
BENCHMARK(BM_RepaintADay)->Unit(benchmark::kMillisecond);

// What a reading adds to a tick while History is open: the reading taken in and the graph
// drawn again (the headless backend draws at every change, as a toolkit paints).
void BM_TickWithHistoryOpen(benchmark::State& state) {
    OpenHistory open;
    std::int64_t t = platform::utc_now();
    for (auto _ : state)
        open.history.add_reading(++t, {20.5, 1013.2, 45.0, 245.0, 148.0});
}
BENCHMARK(BM_TickWithHistoryOpen)->Unit(benchmark::kMillisecond);

void BM_LogOneRow(benchmark::State& state) {
    test_support::TempDir dir;
    session_log::Writer w(dir.path());
    int i = 0;
    for (auto _ : state)
        w.add(reading(i++));
}
BENCHMARK(BM_LogOneRow)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
