// A log played back: which reading stands at a moment, and where the station was not heard.
#include "replay.h"
#include "row.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using station_sim::Replay;

constexpr double silent = NAN;
constexpr std::int64_t morning = 1'781'416'800; // 2026-06-14 06:00:00 UTC

// A line as the program logs it, `second`s into the morning: a reading or an event.
std::string row(int second, const std::string& temperature, const std::string& event = "") {
    session_log::Entry e = session_log::Entry::of_event(event);
    if (event.empty()) {
        e.temperature = temperature;
        e.pressure = "1000.0";
        e.humidity = "50.0";
    }
    return session_log::csv_line({morning + second, 60}, e);
}

TEST(Replay, EachReadingStandsUntilTheNextAtTheSpeedAndGapsAreSilence) {
    std::string older = row(4, "23");
    older.erase(older.size() - 4, 2); // the 14 columns of earlier versions
    std::string lf = row(0, "20") + row(2, "22");
    std::erase(lf, '\r');
    struct Case {
        const char* what;
        std::string log;
        double speed;
        std::vector<std::pair<double, double>> temperature_at; // seconds played, degrees
    };
    const Case cases[] = {
        {"pace",
         std::string(session_log::header) + "\r\n" + row(0, "20") + row(2, "22"),
         1,
         {{0, 20}, {1.9, 20}, {2, 22}, {1e6, 22}}},
        {"speed", row(0, "20") + row(2, "22"), 10, {{0.19, 20}, {0.2, 22}}},
        {"LF line ends", lf, 1, {{1, 20}, {2, 22}}},
        {"a pause over 10 s",
         row(0, "20") + row(12, "21") + row(22, "22"),
         2,
         {{0.49, 20}, {0.5, silent}, {5.9, silent}, {6, 21}, {10.9, 21}, {11, 22}}},
        {"lost and back",
         row(0, "20") + row(1, "", "run 1") + row(2, "21") + row(3, "", "lost") +
             row(8, "", "back") + row(8, "22") + row(9, "", "lost"),
         1,
         {{1.5, 20}, {2.5, 21}, {3, silent}, {7.9, silent}, {8, 22}, {60, 22}}},
        {"unreadable lines, a cut last one",
         row(0, "20") + "garbage\r\n" + row(2, "warm") + older + row(6, "24").substr(0, 56),
         1,
         {{2, 20}, {4, 23}, {30, 23}}},
        {"stamps going back", row(0, "20") + row(5, "21") + row(3, "22"), 1, {{4, 20}, {6, 21}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Replay replay(c.log, c.speed);
        for (const auto& [elapsed, temperature] : c.temperature_at) {
            SCOPED_TRACE(elapsed);
            const Replay::Moment m = replay.at(elapsed);
            EXPECT_EQ(m.silent, std::isnan(temperature));
            if (!m.silent) {
                EXPECT_DOUBLE_EQ(m.last->reading.temperature, temperature);
            }
        }
    }
    EXPECT_EQ(Replay(row(0, "20")).readings().front().time, "2026-06-14 07:00:00");
}

TEST(Replay, ALogWithoutReadingsIsRefused) {
    for (const std::string& log : {std::string(), row(0, "", "start"), row(0, "20").substr(0, 50),
                                   std::string("\x7f"
                                               "ELF\x02\x01\x01\0\0",
                                               9)}) {
        SCOPED_TRACE(log);
        EXPECT_THROW(Replay{log}, station_sim::ReplayError);
    }
    try {
        station_sim::read_replay("/no/such/log.csv", 1);
        ADD_FAILURE() << "read a file that is not there";
    } catch (const station_sim::ReplayError& e) {
        EXPECT_STREQ(e.what(), "cannot read /no/such/log.csv: No such file or directory");
    }
}

} // namespace
