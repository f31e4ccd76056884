// The run's log and the History window, on a window with a scripted station and a log folder
// of its own: rows as shown, the run's events, run marks from the menu and F2, logging turned
// off and stored apart from the main settings, and the graph fed at every reading.
#include "reader.h"
#include "window_fixture.h"

using namespace window_system;

namespace {

const char* const live_reading = "$#65.04,1,27.35,2,98527\r"; // shown as 65.0, 985.3, 27.4

std::vector<std::string> events(const session_log::Rows& rows) {
    std::vector<std::string> seen;
    for (const auto& [stamp, entry] : rows)
        seen.push_back(entry.event.empty() ? "reading " + entry.temperature : entry.event);
    return seen;
}

} // namespace

class LogTest : public WindowTest {
protected:
    void SetUp() override {
        ports.add(1, live_reading);
        start();
    }
    session_log::Rows logged() {
        const auto names = platform::files_in(log_dir, ".csv");
        return names.size() == 1
                   ? session_log::parse_log(platform::read_whole(log_dir + "/" + names[0]))
                   : session_log::Rows{};
    }
};

TEST_F(LogTest, ShownReadingsAndTheRunsEventsAreLoggedAtOnce) {
    backend.advance(2000);
    window().key_down(key_f2, 0);
    window().mnMarkRun.click();
    ports.devices[1].reply.clear(); // silent: the sixth miss in a row loses the link
    backend.advance(7 * 2000);
    ports.devices[1].reply = live_reading;
    backend.advance(2000);
    const session_log::Rows rows = logged();
    EXPECT_EQ(events(rows), (std::vector<std::string>{"start", "port COM1", "reading 27.4", "run 1",
                                                      "run 2", "lost", "back", "reading 27.4"}));
    ASSERT_GE(rows.size(), 3u);
    const session_log::Entry& e = rows[2].second;
    EXPECT_EQ(
        (std::vector<std::string>{e.humidity, e.pressure, e.jet_original, e.jet_calculated, e.port,
                                  e.correction_factor, e.correction_standard}),
        (std::vector<std::string>{"65.0", "985.3", "150", "147", "COM1", "1.040", "SAE J1349"}));
    for (const std::string* figure :
         {&e.density, &e.density_altitude, &e.dew_point, &e.vapour_pressure})
        EXPECT_FALSE(figure->empty());

    window().mnLog.click(); // off: stored in a section of its own, and nothing more is logged
    backend.advance(2000);
    EXPECT_EQ(store->get("KORVANE_1", "log", "log_readings", ""), "0");
    EXPECT_EQ(stored("log_readings"), "<missing>");
    EXPECT_FALSE(window().mnLog.checked());
    EXPECT_EQ(events(logged()).back(), "stop");
}

TEST_F(LogTest, HistoryOpensOnceAndItsGraphMovesWithEveryReading) {
    backend.advance(2000);
    window().mnHistory.click();
    ASSERT_TRUE(window().history.shown());
    window().mnHistory.click();
    EXPECT_EQ(backend.brought_to_front, 1);
    const Graph& graph = window().history.grfHistory;
    const std::size_t before = graph.plot().samples.size();
    const std::int64_t end = graph.plot().end;
    EXPECT_EQ(before, 1u);
    backend.advance(2000);
    EXPECT_EQ(graph.plot().samples.size(), before + 1);
    EXPECT_GE(graph.plot().end, end);
    const auto& painted = backend.painted[&graph];
    EXPECT_TRUE(std::any_of(painted.begin(), painted.end(), [](const Primitive& p) {
        return p.text.rfind("Temperature  27.4", 0) == 0;
    }));
    window().history.key_down(key_f2, 0);
    EXPECT_EQ(graph.plot().marks.size(), 1u);
}
