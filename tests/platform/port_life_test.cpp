// A serial port's life over what USB serial drivers are known to do: a pulled adapter is
// noticed within two polls after the pull and let go at once, taken back when it returns under
// its own number, and a healthy port that reports odd errors is never let go. No call waits
// for a hung driver longer than its bound.
#include "port_life.h"
#include "recorded_drivers.h"

#include <cctype>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::is_open_handle;
using platform::LivePort;
using test_support::DriverBehaviour;
using test_support::RecordedMachine;

const std::string reply = "$#50.0,1,20.0,2,101325\r";
// An open never takes this long here, even while a fresh Wine prefix starts up beside the test.
constexpr LivePort::Timing quick{1ms, 0ms, 10000ms};

// One poll as the station link makes it: the poll byte, then reads until one misses.
std::string poll(LivePort& port, platform::Handle h) {
    port.write_byte(h, 'D');
    std::string got;
    while (const auto b = port.read_byte(h))
        got += static_cast<char>(*b);
    return got;
}

class Drivers : public ::testing::TestWithParam<DriverBehaviour> {};

TEST_P(Drivers, APulledAdapterIsLetGoAtTheNextPollAndTakenBackWhereItReturns) {
    const DriverBehaviour& driver = GetParam();
    const auto machine = std::make_shared<RecordedMachine>(driver);
    machine->plug(8, reply);
    LivePort port(machine, quick);
    const auto h = port.open(8);
    ASSERT_TRUE(is_open_handle(h));

    // Healthy, odd errors and all: nothing is lost and the device is kept.
    std::string got;
    for (int i = 0; i < 10; ++i)
        got += poll(port, h);
    for (int i = 0; i < 100 && got.size() < 10 * reply.size(); ++i)
        if (const auto b = port.read_byte(h))
            got += static_cast<char>(*b);
    EXPECT_EQ(got.size(), 10 * reply.size());
    EXPECT_FALSE(port.lost(h));
    EXPECT_EQ(machine->closes(), 0) << "a healthy port was let go";

    machine->pull(8);
    EXPECT_EQ(poll(port, h), "");
    EXPECT_EQ(poll(port, h), "");
    EXPECT_TRUE(port.lost(h)) << "the pull went unnoticed for two polls";
    for (int i = 0; i < 500 && machine->held() != 0; ++i)
        std::this_thread::sleep_for(1ms); // closed on a thread of its own
    EXPECT_EQ(machine->held(), 0) << "the pulled device is still held";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(poll(port, h), "");
        EXPECT_TRUE(port.lost(h)) << "a device on which nothing works was taken as back";
    }
    EXPECT_EQ(machine->held(), 0);

    machine->plug(8 + driver.returns_as, reply);
    if (driver.returns_as == 0) {
        EXPECT_EQ(poll(port, h), reply) << "not taken back under its own number";
        EXPECT_FALSE(port.lost(h));
    } else {
        EXPECT_EQ(poll(port, h), "");
        EXPECT_TRUE(port.lost(h)); // another port now: following it is the link's part
        EXPECT_EQ(machine->held(), 0);
    }
    port.close(h);
    EXPECT_EQ(machine->held(), 0);
}

INSTANTIATE_TEST_SUITE_P(Recorded, Drivers, ::testing::ValuesIn(test_support::recorded_drivers),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// A Bluetooth port may take seconds to connect, or never do.
TEST(LivePort, AnOpenThatDoesNotReturnInTimeFailsAndItsLateDeviceIsTakenOrLetGo) {
    for (const bool taken : {true, false}) {
        SCOPED_TRACE(taken ? "taken by the next open" : "let go when nobody takes it");
        const auto machine = std::make_shared<RecordedMachine>(test_support::recorded_drivers[0]);
        machine->plug(3, reply);
        machine->hold_opens(true);
        LivePort port(machine, {1ms, 0ms, 100ms, taken ? 10000ms : 0ms});
        EXPECT_EQ(port.open(3), platform::no_handle); // would wait for ever without the bound
        // Not tried again while the first open still runs: no second thread waits on it.
        EXPECT_EQ(port.open(3), platform::no_handle);

        machine->hold_opens(false);
        for (int i = 0; i < 1500 && machine->held() == 0; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(machine->held(), 1) << "the late open did not end";
        if (taken) {
            const auto h = port.open(3);
            ASSERT_TRUE(is_open_handle(h));
            EXPECT_EQ(poll(port, h), reply);
            EXPECT_EQ(machine->held(), 1);
        } else {
            EXPECT_EQ(port.read_byte(platform::no_handle), std::nullopt); // any call sweeps
            for (int i = 0; i < 500 && machine->held() != 0; ++i)
                std::this_thread::sleep_for(10ms); // closed on a thread of its own
            EXPECT_EQ(machine->held(), 0) << "the late device is still held";
        }
    }
}

} // namespace

namespace {

struct Sign {
    const char* what;
    DriverBehaviour driver;
    std::string reply;
    bool state_fails_once; // one state call fails on the healthy port
    bool pulled;
    bool lost; // after two polls
};

const Sign signs[] = {
    {"a state call that fails once on a healthy port",
     {.name = "healthy"},
     reply,
     true,
     false,
     false},
    {"a silent station: reads that time out", {.name = "healthy"}, "", false, false, false},
    {"writes that fail with 31 while reads time out and the name stays",
     {.name = "writes fail", .pulled_write_error = 31, .name_stays = true},
     reply,
     false,
     true,
     true},
};

} // namespace

// Beyond the recorded drivers: a read that times out proves nothing either way, writes that
// used to work and now fail do, and a state call that fails once is asked again before the
// port counts as lost.
TEST(LivePort, OnlyRealSignsOfAPullLetThePortGoWithinTwoPolls) {
    for (const Sign& s : signs) {
        SCOPED_TRACE(s.what);
        const auto machine = std::make_shared<RecordedMachine>(s.driver);
        machine->plug(4, s.reply);
        LivePort port(machine, quick);
        const auto h = port.open(4);
        ASSERT_TRUE(is_open_handle(h));
        poll(port, h);
        if (s.state_fails_once)
            machine->fail_state_once();
        if (s.pulled)
            machine->pull(4);
        poll(port, h);
        poll(port, h);
        EXPECT_EQ(port.lost(h), s.lost);
        EXPECT_EQ(machine->closes(), s.lost ? 1 : 0);
    }
}

// A driver that never returns from an open or a close (a Bluetooth port, a device pulled out
// mid-transfer): every call comes back after the open wait, a close after the close wait, and
// a close followed by an open within both together.
TEST(LivePort, ADriverThatHangsHoldsNoCallLongerThanItsWait) {
    constexpr LivePort::Timing timing{1ms, 0ms, 2000ms, 10000ms, 200ms};
    const auto machine = std::make_shared<RecordedMachine>(test_support::recorded_drivers[0]);
    machine->plug(3, reply);
    machine->plug(4, reply);
    LivePort port(machine, timing);
    auto h3 = port.open(3);
    const auto h4 = port.open(4);
    ASSERT_TRUE(is_open_handle(h3) && is_open_handle(h4));
    machine->hold_opens(true, true);

    using Clock = std::chrono::steady_clock;
    const auto seconds = [](auto call) {
        const auto start = Clock::now();
        call();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    // Far below twice the open wait, which is what a close and an open one after the other
    // each waiting their own full time would take.
    constexpr double bound = 3.0;
    EXPECT_LT(seconds([&] { port.close(h3); }), 0.2 + 1.0);
    EXPECT_LT(seconds([&] { h3 = port.open(3); }), bound); // behind its own close: fails
    EXPECT_EQ(h3, platform::no_handle);
    machine->pull(4);
    EXPECT_LT(seconds([&] { poll(port, h4); }), bound); // the lost device's close hangs
    EXPECT_TRUE(port.lost(h4));
    machine->plug(4, reply);
    EXPECT_LT(seconds([&] { poll(port, h4); }), bound); // so does the open that takes it back
    EXPECT_TRUE(port.lost(h4));
    machine->hold_opens(false);
}
