// A serial port's life over what USB serial drivers are known to do: a pulled adapter is
// noticed at the first poll after the pull and let go at once, taken back when it returns under
// its own number, and a healthy port that reports odd errors is never let go.
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
constexpr LivePort::Timing quick{1ms, 0ms, 2000ms}; // an open never takes this long here

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
    EXPECT_TRUE(port.lost(h)) << "the pull went unnoticed for a whole poll";
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
        for (int i = 0; i < 500 && machine->held() == 0; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(machine->held(), 1) << "the late open did not end";
        if (taken) {
            const auto h = port.open(3);
            ASSERT_TRUE(is_open_handle(h));
            EXPECT_EQ(poll(port, h), reply);
            EXPECT_EQ(machine->held(), 1);
        } else {
            EXPECT_EQ(port.read_byte(platform::no_handle), std::nullopt); // any call sweeps
            EXPECT_EQ(machine->held(), 0) << "the late device is still held";
        }
    }
}

} // namespace
