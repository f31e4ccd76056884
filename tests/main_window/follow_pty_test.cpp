// Over real pseudo-terminals standing in as USB adapters (/dev/ttyUSB<n> of a sysfs tree laid
// out as the kernel does): the station's adapter is pulled out; another device gets its old
// number, and an adapter of the same model and a GPS come in: none of them receives a byte. The
// station's adapter comes back under another number and the window follows it there by itself.
#include "fake_sysfs.h"
#include "posix_ports.h"
#include "pty_pair.h"
#include "station_process.h"
#include "window_fixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using test_support::UsbAdapter;
using test_support::UsbDriver;

class FollowPty : public WindowTest {
protected:
    FollowPty() {
        // Looked for again at every tick, not once a second of real time.
        port = platform::make_posix_serial_port(paths, {10ms, 0ms, 1000ms});
        lister = platform::make_posix_port_lister(paths);
        real_link = std::make_unique<weather::Link>(*port, *lister);
        window_link = real_link.get();
    }

    // The pseudo-terminal `pty` as /dev/`tty` on `adapter`.
    void plug(const std::string& tty, const std::string& pty, const UsbAdapter& adapter) {
        fs::create_symlink(pty, paths.dev + "/" + tty);
        sysfs.plug(tty, adapter);
    }
    void pull(const std::string& tty) {
        fs::remove(paths.dev + "/" + tty);
        sysfs.pull(tty);
    }
    // station-sim's pseudo-terminal, taken out of its own port map.
    std::string station_pty(int n) {
        const fs::path link = dir.path() + "/KORVANE_1/ports/COM" + std::to_string(n);
        const std::string pty = fs::read_symlink(link).string();
        fs::remove(link);
        return pty;
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
    test_support::FakeSysfs sysfs{dir.path() + "/sys"};
    std::unique_ptr<platform::SerialPort> port;
    std::unique_ptr<platform::PortLister> lister;
    std::unique_ptr<weather::Link> real_link;
};

const UsbAdapter station_adapter{UsbDriver::ftdi_sio, "0403", "6001", "A50285BI", "2"};

} // namespace

TEST_F(FollowPty, TheStationsAdapterIsFollowedAndNoOtherDeviceGetsAByte) {
    test_support::Station first(STATION_SIM_PATH, dir, {"--port", "40", "--hangup-after", "2"});
    ASSERT_TRUE(first.wait_started()) << first.out();
    plug("ttyUSB0", station_pty(40), station_adapter); // COM33
    put("weather_com", "33");
    start();
    EXPECT_NE(ticks_to_live(3), -1);
    ASSERT_TRUE(first.wait_ended()) << first.out();
    pull("ttyUSB0");
    backend.advance(2000);
    EXPECT_TRUE(real_link->port_lost());

    // An Arduino-type board under the old number, an adapter of the station's model with
    // another serial number, and a GPS on an adapter of its own.
    test_support::PtyPair board, twin, gps;
    plug("ttyUSB0", board.slave_path(), {UsbDriver::ch341, "1a86", "7523", "", "2"});
    plug("ttyUSB2", twin.slave_path(), {UsbDriver::ftdi_sio, "0403", "6001", "B7712C09", "5"});
    plug("ttyACM0", gps.slave_path(), {UsbDriver::cdc_acm, "1546", "01a7", "", "4"}); // COM65
    gps.write("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    EXPECT_EQ(ticks_to_live(3), -1);
    for (test_support::PtyPair* other : {&board, &twin, &gps})
        EXPECT_EQ(other->read_available(0), "");

    test_support::Station second(STATION_SIM_PATH, dir, {"--port", "41", "--format", "star"});
    ASSERT_TRUE(second.wait_started()) << second.out();
    UsbAdapter moved = station_adapter;
    moved.socket = "3";
    plug("ttyUSB1", station_pty(41), moved); // COM34
    EXPECT_NE(ticks_to_live(3), -1);
    EXPECT_EQ(real_link->state.com_port, 34);
    for (test_support::PtyPair* other : {&board, &twin, &gps})
        EXPECT_EQ(other->read_available(0), "");
    window().unload();
    EXPECT_EQ(stored("weather_com"), "34");
}
