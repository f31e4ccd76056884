// The log on real files in a temporary folder, on a clock the test moves: the columns and
// their quoting, the times across the end of summer time, a clock set back, a second run in
// the same second, a line cut short, and rows held while the disk refuses them.
#include "reader.h"
#include "temp_dir.h"
#include "writer.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace session_log;

namespace {

constexpr std::int64_t oct25_0030_utc = 1792888200; // 2026-10-25 00:30:00 UTC

// Europe/Berlin: summer time (+02:00) ends at 01:00 UTC on the last Sunday of October.
int berlin(std::int64_t utc) {
    return utc < oct25_0030_utc + 1800 ? 120 : 60;
}

struct Log : ::testing::Test {
    Clock clock() {
        return {[this] { return now; }, berlin};
    }
    std::string text(const Writer& w) { return platform::read_whole(w.path()); }

    test_support::TempDir tmp;
    std::string dir = tmp.path() + "/KORVANE_1/logs";
    std::int64_t now = oct25_0030_utc;
};

Entry reading(std::string temperature, std::string port = "COM5") {
    Entry e;
    e.temperature = std::move(temperature);
    e.pressure = "1013.2";
    e.humidity = "45.0";
    e.port = std::move(port);
    return e;
}

} // namespace

TEST(Row, ColumnsTimesAndQuoting) {
    const struct {
        Stamp stamp;
        Entry entry;
        const char* line;
    } rows[] = {
        {{oct25_0030_utc, 120},
         reading("12.5"),
         "2026-10-25 02:30:00,+02:00,2026-10-25T00:30:00Z,12.5,1013.2,45.0,,,,,,,COM5,,,\r\n"},
        // The local hour repeats after summer time; UTC and the offset tell the two apart.
        {{oct25_0030_utc + 3600, 60},
         Entry::of_event("lost"),
         "2026-10-25 02:30:00,+01:00,2026-10-25T01:30:00Z,,,,,,,,,,,lost,,\r\n"},
        {{0, -570},
         reading("-1.0", "my \"port\", 2"),
         "1969-12-31 14:30:00,-09:30,1970-01-01T00:00:00Z,-1.0,1013.2,45.0,,,,,,,"
         "\"my \"\"port\"\", 2\",,,\r\n"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(csv_line(r.stamp, r.entry), r.line);
        const std::string line(r.line);
        const auto back = parse_row(line.substr(0, line.size() - 2));
        ASSERT_TRUE(back) << r.line;
        EXPECT_EQ(back->first.utc, r.stamp.utc);
        EXPECT_EQ(back->first.offset_minutes, r.stamp.offset_minutes);
        EXPECT_EQ(back->second.port, r.entry.port);
        EXPECT_EQ(back->second.event, r.entry.event);
    }
    // A row of a log written before the correction factor's columns.
    EXPECT_EQ(
        parse_row("2026-10-25 02:30:00,+01:00,2026-10-25T01:30:00Z,,,,,,,,,,,lost")->second.event,
        "lost");
}

TEST_F(Log, RowsGoToTheFileAtOnceInTimeOrderAndACutLineIsPassedOver) {
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/2026-10-25_023000.csv") << "another run\r\n";
    Writer w(dir, clock());
    w.add(Entry::of_event("start"));
    now += 3600; // across the end of summer time
    w.add(reading("12.5"));
    now -= 10; // the clock is set back: the log's time is not
    w.add(reading("12.6"));
    EXPECT_EQ(w.path(), dir + "/2026-10-25_023000-2.csv");

    std::string written = text(w); // before close: nothing was held back
    EXPECT_EQ(written.substr(0, written.find("\r\n")), header);
    std::ofstream(w.path(), std::ios::app) << "2026-10-25 02:30:05,+01:00,2026-10-25T01:3";
    const Rows rows = parse_log(text(w));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].first.utc, oct25_0030_utc + 3600);
    EXPECT_EQ(rows[2].first.utc, rows[1].first.utc);
    EXPECT_EQ(rows[2].second.temperature, "12.6");
    EXPECT_EQ(read_since(dir, oct25_0030_utc + 1).size(), 2u);
}

// A file-size limit stands for a full disk; then the file is deleted under the writer.
TEST_F(Log, RowsWaitWhileTheDiskRefusesThemAndAreWrittenOnceInOrder) {
    Writer w(dir, clock());
    w.add(reading("10.0"));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = std::filesystem::file_size(w.path()) + 100;
    setrlimit(RLIMIT_FSIZE, &small);
    for (int i = 1; i <= 5; ++i) {
        now += 2;
        w.add(reading("10." + std::to_string(i)));
        w.tick();
    }
    const std::string why = w.held_up();
    const std::size_t waiting = w.waiting();
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(why, "disk full");
    EXPECT_GE(waiting, 4u);
    w.tick();
    EXPECT_EQ(w.held_up(), "");
    Rows rows = parse_log(text(w));
    ASSERT_EQ(rows.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(rows[i].second.temperature, "10." + std::to_string(i));

    std::filesystem::remove_all(dir);
    w.add(reading("11.0"));
    rows = parse_log(text(w));
    ASSERT_EQ(rows.size(), 1u); // a new file at the same place, with its header
    EXPECT_EQ(rows[0].second.temperature, "11.0");
}
