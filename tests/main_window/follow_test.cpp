// The main window follows its station when the adapter is pulled out and plugged back in: under
// its own number it is simply taken back; under another number the newly listed ports are tried
// one per tick and the first that answers is kept, with no user action. The adapters are USB
// serial adapters whose driver behaviour is replayed below the real port mechanism.
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

TEST_F(FollowTest, AnAdapterBackUnderAnotherNumberIsFollowedThereAndStored) {
    machine->plug(8);
    machine->plug(2, ""); // a port with nothing on it
    put("weather_com", "8");
    start();
    EXPECT_EQ(ticks_to_live(), 1);

    machine->pull(8);
    backend.advance(2000);
    EXPECT_TRUE(usb_link.port_lost());
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM2"}));
    EXPECT_EQ(machine->held(), 0);

    machine->plug(9);
    EXPECT_EQ(ticks_to_live(), 1) << "the station's first reading on the tick that found it";
    EXPECT_EQ(usb_link.state.com_port, 9);
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM2", "COM9"}));
    EXPECT_EQ(ticked(), std::vector<int>{2});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ticks_to_live(1), 1) << "it stays there";
    EXPECT_EQ(usb_link.state.com_port, 9);

    window().unload();
    EXPECT_EQ(stored("weather_com"), "9");
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

TEST_F(FollowTest, NewPortsThatDoNotAnswerLeaveItWaitingAtItsOwnNumber) {
    machine->plug(8);
    put("weather_com", "8");
    start();
    machine->pull(8);
    backend.advance(2000);
    machine->plug(4, "");
    machine->plug(6, "");
    backend.advance(2000);
    EXPECT_EQ(usb_link.state.com_port, 4);
    backend.advance(2000);
    EXPECT_EQ(usb_link.state.com_port, 6);
    backend.advance(2000);
    EXPECT_EQ(usb_link.state.com_port, 8) << "back to waiting for its own port";
    EXPECT_EQ(machine->held(), 0);
    for (int i = 0; i < 3; ++i)
        backend.advance(2000);
    EXPECT_EQ(usb_link.state.com_port, 8) << "a silent port is not tried twice";

    machine->plug(8);
    EXPECT_EQ(ticks_to_live(), 1);
    EXPECT_EQ(usb_link.state.com_port, 8);
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
    desktop.devices_changed();
    backend.advance(0);
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM4"}));
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
