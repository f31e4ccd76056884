// The station link over the real serial port and port list, against simulated stations that
// run-under-wine has started and mapped to COM numbers:
//   NIMBREL_COM_HASH     hash sentences at once: humidity 52.5, 23.4 C, 1013.25 mbar
//   NIMBREL_COM_STAR     star sentences at once: 68 F, humidity 40, 1013.2 mbar; a number of
//                        three digits, so that 1000 and up would land on it if cut
//   NIMBREL_COM_LATE     hash sentences 50 ms after the poll
//   NIMBREL_COM_MISSING  a number nothing is mapped to
//   NIMBREL_COM_REPLUG   hash sentences from a station that hangs up after three answered
//                        polls; the device path is then missing for 5 s (meanwhile Wine opens
//                        the port as a bare device whose every call fails with
//                        ERROR_INVALID_FUNCTION), and comes back with another station behind
//                        it, as an adapter that is pulled out and plugged in again
//   NIMBREL_COM_FILE     a regular file, which run-under-wine checks afterwards
//   NIMBREL_COM_FIFO     a FIFO that nobody else has open
#include "dcb_check.h"
#include "pause.h"
#include "weather.h"
#include "win32_ports.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::int16_t station(const char* variable) {
    const char* text = std::getenv(variable);
    const int port = text ? std::atoi(text) : 0;
    EXPECT_GT(port, 0) << variable << " is not set; run these tests through run-under-wine";
    return static_cast<std::int16_t>(port);
}

class Win32Link : public ::testing::Test {
protected:
    const std::int16_t hash_port = station("NIMBREL_COM_HASH");
    const std::int16_t star_port = station("NIMBREL_COM_STAR");
    const std::int16_t late_port = station("NIMBREL_COM_LATE");
    const std::int16_t missing_port = station("NIMBREL_COM_MISSING");
    const std::int16_t replug_port = station("NIMBREL_COM_REPLUG");
    const std::int16_t file_port = station("NIMBREL_COM_FILE");
    const std::int16_t fifo_port = station("NIMBREL_COM_FIFO");

    std::unique_ptr<platform::SerialPort> port = platform::make_serial_port();
    std::unique_ptr<platform::PortLister> lister = platform::make_port_lister();
    weather::Link link{*port, *lister};

    // A poll whose reply the station sends at once. On a busy machine the reply may still
    // start after the 10 ms read; it then waits in the input queue for the next read.
    void poll_for_reading() {
        link.poll_station();
        if (link.state.pressure == 0)
            link.read_station();
    }
};

// The device manager may list the same ports again: each shows once.
TEST_F(Win32Link, ThePortListHoldsEveryMappedPortOnceWithItsNul) {
    std::vector<std::string> names;
    link.list_com_ports(names);
    for (const std::int16_t n : {hash_port, star_port, late_port}) {
        const std::string name = "COM" + std::to_string(n) + '\0';
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << n;
        EXPECT_EQ(weather::com_number(name), n);
    }
    const std::string missing = "COM" + std::to_string(missing_port) + '\0';
    EXPECT_EQ(std::count(names.begin(), names.end(), missing), 0);
}

TEST_F(Win32Link, OpenSetsTheLineAndTheTimeOuts) {
    ASSERT_TRUE(link.open_port(hash_port));
    const HANDLE h = platform::system_handle(*port, link.state.com_handle);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(h, &dcb));
    test_support::expect_station_line(dcb);

    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(h, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u);

    const platform::Handle open = link.state.com_handle;
    link.close_port();
    EXPECT_EQ(link.state.com_handle, platform::no_handle);
    EXPECT_EQ(platform::system_handle(*port, open), INVALID_HANDLE_VALUE);
    link.close_port(); // a second close does nothing
    EXPECT_EQ(link.state.com_handle, platform::no_handle);
}

TEST_F(Win32Link, PollsDecodeHashSentences) {
    ASSERT_TRUE(link.open_port(hash_port));
    for (int poll = 0; poll < 3; ++poll) {
        link.state.pressure = 0; // as the display tick leaves it
        poll_for_reading();
        EXPECT_FLOAT_EQ(link.state.humidity, 52.5f) << poll;
        EXPECT_FLOAT_EQ(link.state.temperature, 23.4f) << poll;
        EXPECT_FLOAT_EQ(link.state.pressure, 1013.25f) << poll;
        EXPECT_EQ(link.state.link_kind, 2) << poll;
        EXPECT_EQ(link.state.miss_count, -6) << poll;
        EXPECT_EQ(link.state.rx_line, "") << poll;
    }
}

TEST_F(Win32Link, PollsDecodeStarSentences) {
    ASSERT_TRUE(link.open_port(star_port));
    poll_for_reading();
    EXPECT_NEAR(link.state.temperature, 20.0f, 1e-4);
    EXPECT_FLOAT_EQ(link.state.humidity, 40.0f);
    EXPECT_FLOAT_EQ(link.state.pressure, static_cast<float>(29.920 * 33.8638));
    EXPECT_EQ(link.state.link_kind, 3);
    EXPECT_EQ(link.state.miss_count, -6);
}

TEST_F(Win32Link, NumbersFromAThousandUpNeverOpenAShorterPort) {
    ASSERT_GE(star_port, 100);
    ASSERT_LE(star_port, 999);
    for (const int extra : {0, 1, 9}) {
        const auto n = static_cast<std::int16_t>(star_port * 10 + extra);
        EXPECT_FALSE(link.open_port(n)) << n;
        EXPECT_EQ(link.state.com_handle, platform::no_handle) << n;
    }
    EXPECT_TRUE(link.open_port(star_port));
}

TEST_F(Win32Link, AReplyThatStartsLateIsDecodedByTheNextRead) {
    ASSERT_TRUE(link.open_port(late_port));
    link.poll_station();
    EXPECT_EQ(link.state.pressure, 0.0f);
    EXPECT_EQ(link.state.miss_count, -5);
    EXPECT_EQ(link.state.link_kind, 0);

    platform::pause_ms(300); // the reply is in the input queue by now
    link.read_station();
    EXPECT_FLOAT_EQ(link.state.pressure, 1013.25f);
    EXPECT_EQ(link.state.link_kind, 2);
    EXPECT_EQ(link.state.miss_count, -6);
}

TEST_F(Win32Link, AReadOnASilentPortEndsAfterAboutTenMilliseconds) {
    ASSERT_TRUE(link.open_port(late_port));
    const auto start = Clock::now();
    link.read_station(); // nothing polled, nothing sent
    const long long took = ms_since(start);
    EXPECT_EQ(link.state.miss_count, -5);
    EXPECT_GE(took, 5);
    EXPECT_LT(took, 1000);
}

TEST_F(Win32Link, ReopeningDiscardsAQueuedReply) {
    ASSERT_TRUE(link.open_port(late_port));
    link.send_byte(weather::poll_byte);
    platform::pause_ms(300);
    ASSERT_TRUE(link.open_port(late_port));
    link.read_station();
    EXPECT_EQ(link.state.pressure, 0.0f);
    EXPECT_EQ(link.state.miss_count, -5);
    EXPECT_EQ(link.state.rx_line, "");
}

TEST_F(Win32Link, AMissingPortFailsAtOnceAndEveryPollMisses) {
    ASSERT_TRUE(link.open_port(hash_port));
    const auto start = Clock::now();
    EXPECT_FALSE(link.open_port(missing_port));
    EXPECT_LT(ms_since(start), 2000);
    EXPECT_EQ(link.state.com_port, missing_port);
    EXPECT_EQ(link.state.com_handle, platform::no_handle);
    link.poll_station();
    link.poll_station();
    EXPECT_EQ(link.state.miss_count, -4);
    EXPECT_EQ(link.state.pressure, 0.0f);
}

TEST_F(Win32Link, ACOMNameThatLeadsToAFileOrAFifoFailsToOpenAtOnce) {
    for (const std::int16_t n : {file_port, fifo_port}) {
        const auto start = Clock::now();
        EXPECT_FALSE(link.open_port(n)) << n;
        EXPECT_LT(ms_since(start), 2000) << n;
        link.poll_station(); // a read from the FIFO would never return
        link.poll_station();
        EXPECT_EQ(link.state.miss_count, -4) << n;
    }
}

// Windows may refuse to register a COM handle: the removal is marked all the same, with or
// without a window to tell.
TEST_F(Win32Link, ARemovalThatWindowsToldLetsTheDeviceGoWhenThePortIsAsked) {
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    for (const HWND notice_window : {HWND(nullptr), window}) {
        platform::set_device_notice_window(notice_window);
        const platform::Handle h = port->open(hash_port);
        const HANDLE system = platform::system_handle(*port, h);
        ASSERT_NE(system, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(port->lost(h));
        platform::device_removal(system);
        EXPECT_TRUE(port->lost(h)) << notice_window;
        EXPECT_EQ(platform::system_handle(*port, h), INVALID_HANDLE_VALUE);
        // Closed: its value may already name a thread or an event, but no serial port.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        EXPECT_FALSE(GetCommState(system, &dcb)) << notice_window;
        port->close(h);
    }
    platform::set_device_notice_window(nullptr);
    DestroyWindow(window);
}

TEST_F(Win32Link, AStationThatHangsUpIsTakenBackUnderTheSameHandle) {
    ASSERT_TRUE(link.open_port(replug_port));
    const platform::Handle handle = link.state.com_handle;
    const auto system = [&] { return platform::system_handle(*port, handle); };
    ASSERT_NE(system(), INVALID_HANDLE_VALUE);

    // Readings until the station hangs up: the port lets go of the device at once.
    int readings = 0;
    for (const auto end = Clock::now() + std::chrono::seconds(5);
         system() != INVALID_HANDLE_VALUE && Clock::now() < end;) {
        link.state.pressure = 0;
        poll_for_reading();
        readings += link.state.pressure > 0;
    }
    ASSERT_EQ(system(), INVALID_HANDLE_VALUE) << "the hang-up was not noticed";
    EXPECT_GE(readings, 1);
    EXPECT_LE(readings, 3);
    const auto gone = Clock::now();
    link.state.pressure = 0;

    // Misses, each taking its time, until the port finds the station that has come back.
    // Whatever the port holds meanwhile is a serial device: a bare one would be kept for good.
    int misses = 0;
    int bare = 0;
    long long shortest_us = LLONG_MAX;
    bool lost = false;
    for (const auto end = gone + std::chrono::seconds(12);
         link.state.pressure == 0 && Clock::now() < end;) {
        const auto start = Clock::now();
        link.poll_station();
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        bare += system() != INVALID_HANDLE_VALUE && !GetCommState(system(), &dcb);
        if (link.state.pressure > 0)
            break;
        ++misses;
        shortest_us = std::min<long long>(
            shortest_us,
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
        lost = lost || link.state.link_kind == 0;
    }
    const long long away = ms_since(gone);
    EXPECT_EQ(bare, 0) << "polls that found a bare device held";
    ASSERT_GT(link.state.pressure, 0.0f) << "not back after " << misses << " misses";
    EXPECT_GE(away, 4500) << "opened again before the device path was back";
    EXPECT_LE(away, 8000) << "not back within about 3 s of its device path";
    EXPECT_GE(misses, 6);
    EXPECT_GE(shortest_us, 10000) << "a miss on a port whose device is away came back early";
    EXPECT_TRUE(lost);

    EXPECT_EQ(link.state.com_handle, handle);
    EXPECT_FLOAT_EQ(link.state.pressure, 1013.25f);
    EXPECT_EQ(link.state.link_kind, 2);
    EXPECT_EQ(link.state.miss_count, -6);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(system(), &t)) << "set up again as at the open";
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u);
}

} // namespace
