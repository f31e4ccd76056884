// Over real pseudo-terminals: the station on COM7 hangs up, as an adapter that is pulled out,
// and comes back as COM12, as an adapter plugged into another socket; the window follows it
// there by itself.
#include "posix_ports.h"
#include "pty_pair.h"
#include "station_process.h"
#include "window_fixture.h"

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

class FollowPty : public WindowTest {
protected:
    FollowPty() {
        paths.port_map = dir.path() + "/KORVANE_1/ports"; // where station-sim links its port
        port = platform::make_posix_serial_port(paths);
        lister = platform::make_posix_port_lister(paths);
        real_link = std::make_unique<weather::Link>(*port, *lister);
        window_link = real_link.get();
    }

    // Display ticks, with time for the station's replies between them, until the boxes show a
    // fresh reading; how many it took, or -1.
    int ticks_to_live(int limit) {
        for (int i = 1; i <= limit; ++i) {
            std::this_thread::sleep_for(50ms);
            backend.advance(2000);
            if (window().txtPressure.back_colour() == window_system::colours::black)
                return i;
        }
        return -1;
    }

    platform::PosixPaths paths = test_support::isolated_paths(dir);
    std::unique_ptr<platform::SerialPort> port;
    std::unique_ptr<platform::PortLister> lister;
    std::unique_ptr<weather::Link> real_link;
};

} // namespace

TEST_F(FollowPty, AStationThatComesBackUnderAnotherNumberIsFollowedThere) {
    test_support::Station first(STATION_SIM_PATH, dir, {"--port", "7", "--hangup-after", "2"});
    ASSERT_TRUE(first.wait_started()) << first.out();
    put("weather_com", "7");
    start();
    EXPECT_NE(ticks_to_live(3), -1);
    ASSERT_TRUE(first.wait_ended()) << first.out();
    backend.advance(2000);
    EXPECT_TRUE(real_link->port_lost());
    EXPECT_EQ(shown_ports(), std::vector<std::string>{"none"});

    test_support::Station second(STATION_SIM_PATH, dir, {"--port", "12", "--format", "star"});
    ASSERT_TRUE(second.wait_started()) << second.out();
    EXPECT_NE(ticks_to_live(3), -1);
    EXPECT_EQ(real_link->state.com_port, 12);
    ASSERT_EQ(shown_ports().size(), 2u);
    EXPECT_EQ(shown_ports()[1].rfind("COM12 (", 0), 0u) << shown_ports()[1];
    EXPECT_EQ(ticked(), std::vector<int>{1});
    window().unload();
    EXPECT_EQ(stored("weather_com"), "12");
}
