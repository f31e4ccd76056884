// The main window follows its station's adapter when it is pulled out and plugged back in: under
// its own number it is simply taken back; under another number it is followed only when the
// system shows that very adapter there (vendor, product and serial number, or the same socket
// for an adapter without one), and it must then give a plausible reading within two polls. No
// other device is ever opened or written to. The adapters are USB serial adapters whose driver
// behaviour is replayed below the real port mechanism.
#include "recorded_drivers.h"
#include "window_fixture.h"

#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

class FollowTest : public WindowTest {
protected:
    FollowTest() { window_link = &usb_link; }

    // Display ticks until the boxes show a fresh reading; how many it took, or -1.
    int ticks_to_live(int limit = 5) {
        for (int i = 1; i <= limit; ++i) {
            backend.advance(2000);
            if (window().txtPressure.back_colour() == window_system::colours::black)
                return i;
        }
        return -1;
    }

    std::shared_ptr<test_support::RecordedMachine> machine =
        std::make_shared<test_support::RecordedMachine>(test_support::recorded_drivers[0]);
    platform::LivePort usb_port{machine, {1ms, 0ms, 1000ms}};
    weather::Link usb_link{usb_port, *machine};
};

} // namespace

namespace {

using platform::AdapterIdentity;

const std::string station = "$#50.0,1,20.0,2,101325\r";
// A GPS at 9600 baud: its position decodes as 68,604 degrees and 38,300 mb.
const std::string gps = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const AdapterIdentity ftdi{"0403", "6001", "A50285BI", "00", "1-2"};
const AdapterIdentity ftdi_moved{"0403", "6001", "A50285BI", "00", "1-3"};
const AdapterIdentity ftdi_other{"0403", "6001", "B7712C09", "00", "1-3"};
const AdapterIdentity ch340{"1a86", "7523", "", "00", "1-2"};
const AdapterIdentity ch340_other_socket{"1a86", "7523", "", "00", "1-4"};
// An Arduino-type board, which DTR would reset, given the old number after the pull.
const AdapterIdentity board{"1a86", "7523", "", "00", "1-5"};

struct Newcomer {
    const char* what;
    AdapterIdentity was; // the station's adapter, on COM8
    AdapterIdentity is;  // what comes in as COM9
    std::string reply;   // what answers there
    bool followed;       // COM9 ends up the station's port and is stored
    int opened;          // how often COM9 was opened
};

const Newcomer newcomers[] = {
    {"the same adapter in another socket", ftdi, ftdi_moved, station, true, 1},
    {"a serial-less adapter in the same socket", ch340, ch340, station, true, 1},
    {"the same model with another serial number", ftdi, ftdi_other, station, false, 0},
    {"a serial-less adapter of the same model in another socket", ch340, ch340_other_socket,
     station, false, 0},
    {"any port after a port known by its name alone", {}, {}, station, false, 0},
    {"a GPS on another adapter", ftdi, ch340_other_socket, gps, false, 0},
    {"the station's adapter giving a GPS's sentences", ftdi, ftdi_moved, gps, false, 1},
    {"the station's adapter with nothing on it", ftdi, ftdi_moved, "", false, 1},
};

} // namespace

TEST_F(FollowTest, OnlyTheStationsOwnAdapterIsFollowedToAnotherNumber) {
    for (const Newcomer& c : newcomers) {
        SCOPED_TRACE(c.what);
        machine =
            std::make_shared<test_support::RecordedMachine>(test_support::recorded_drivers[0]);
        platform::LivePort port{machine, {1ms, 0ms, 1000ms}};
        weather::Link moving{port, *machine};
        window_link = &moving;
        machine->plug(8, station, c.was);
        put("weather_com", "8");
        start();
        EXPECT_EQ(ticks_to_live(), 1);
        machine->pull(8);
        backend.advance(2000);
        ASSERT_TRUE(moving.port_lost());
        // A port known by its name alone is taken back under its name, whatever is there.
        const bool stranger = c.was.usb();
        if (stranger)
            machine->plug(8, "", board);

        machine->plug(9, c.reply, c.is);
        const int live = ticks_to_live(4);
        EXPECT_EQ(live != -1, c.followed);
        EXPECT_EQ(moving.state.com_port, c.followed ? 9 : 8);
        EXPECT_EQ(machine->opens(9), c.opened) << "tried again, or never";
        if (c.opened == 0) {
            EXPECT_EQ(machine->written(9), 0) << "a byte went to somebody else's device";
        }
        if (stranger) {
            EXPECT_EQ(machine->opens(8), 0) << "the board under the old number was opened";
            EXPECT_TRUE(c.opened > 0 || moving.port_lost()); // still waiting for its own
        }
        const int own_item = stranger ? 1 : 0; // COM8 listed again, ahead of COM9
        EXPECT_EQ(ticked(), c.followed ? std::vector<int>{own_item + 1}
                            : stranger ? std::vector<int>{1}
                                       : std::vector<int>{});
        window().unload();
        EXPECT_EQ(stored("weather_com"), c.followed ? "9" : "8");
        w.reset();
    }
}

TEST_F(FollowTest, AWindowClosedWhileAPortIsTriedStoresTheUsersPort) {
    machine->plug(8, station, ftdi);
    put("weather_com", "8");
    start();
    EXPECT_EQ(ticks_to_live(), 1);
    machine->pull(8);
    backend.advance(2000);
    machine->plug(9, "", ftdi_moved); // not answering yet
    backend.advance(2000);
    EXPECT_EQ(usb_link.state.com_port, 9);
    window().unload();
    EXPECT_EQ(stored("weather_com"), "8");
}

TEST_F(FollowTest, AnAdapterBackUnderItsOwnNumberIsTakenBackAndNoOtherPortTried) {
    machine->plug(8);
    put("weather_com", "8");
    start();
    machine->pull(8);
    backend.advance(2000);
    machine->plug(3); // another station, newly plugged, at the same time
    machine->plug(8);
    EXPECT_EQ(ticks_to_live(), 1);
    EXPECT_EQ(usb_link.state.com_port, 8);
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM3", "COM8"}));
    EXPECT_EQ(ticked(), std::vector<int>{2});
}

TEST_F(FollowTest, APortMissingAtStartUpIsOpenedWhenItsAdapterIsPluggedIn) {
    put("weather_com", "5");
    start();
    EXPECT_FALSE(platform::is_open_handle(usb_link.state.com_handle));
    EXPECT_EQ(ticks_to_live(2), -1);
    machine->plug(5);
    EXPECT_EQ(ticks_to_live(), 1);
    EXPECT_EQ(usb_link.state.com_port, 5);
    EXPECT_EQ(ticked(), std::vector<int>{1});
}

TEST_F(FollowTest, AChosenPortThatIsThereIsNeverLeftAndNoPortAnyOneWithNone) {
    machine->plug(8, ""); // held, but the station is silent
    put("weather_com", "8");
    start();
    machine->plug(9);
    for (int i = 0; i < 4; ++i)
        backend.advance(2000);
    EXPECT_EQ(usb_link.state.com_port, 8);

    window().mncom[0].click(); // "none"
    machine->pull(8);
    for (int i = 0; i < 4; ++i)
        backend.advance(2000);
    EXPECT_EQ(usb_link.state.com_port, 0);
}

TEST_F(FollowTest, AChangeOfDevicesRebuildsThePortMenuAtOnce) {
    put("weather_com", "0");
    start();
    EXPECT_EQ(shown_ports(), std::vector<std::string>{"none"});
    machine->plug(4);
    desktop.devices_changed("COM7"); // announced before the system lists it
    backend.advance(0);
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM4", "COM7"}));
    EXPECT_EQ(usb_link.state.com_port, 0);
}

TEST_F(FollowTest, AnOpenThatTakesTooLongFailsInTimeAndItsPortIsTakenAtALaterTick) {
    machine->plug(8);
    machine->plug(3);
    put("weather_com", "8");
    start();
    machine->hold_opens(true); // a Bluetooth port that takes its time to connect
    window().mncom[1].click(); // COM3
    EXPECT_EQ(usb_link.state.com_port, 3);
    EXPECT_FALSE(platform::is_open_handle(usb_link.state.com_handle));
    backend.advance(2000);
    EXPECT_FALSE(connected_shown());
    machine->hold_opens(false);
    for (int i = 0; i < 500 && machine->held() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ticks_to_live(), 1);
    EXPECT_EQ(usb_link.state.com_port, 3);
}

TEST_F(FollowTest, AListedPortThatAnotherProgramHoldsIsTakenWhenItLetsGo) {
    machine->plug(8);
    platform::LivePort other(machine, {1ms, 0ms, 1000ms});
    const auto theirs = other.open(8);
    put("weather_com", "8");
    start();
    EXPECT_FALSE(platform::is_open_handle(usb_link.state.com_handle));
    EXPECT_EQ(ticks_to_live(2), -1);
    other.close(theirs);
    EXPECT_EQ(ticks_to_live(), 1);
}
