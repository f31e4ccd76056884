// The port numbers of listed names: COM numbers as they stand, every other name a number of
// its own for the run, opened under that name.
#include "scripted_stations.h"
#include "weather.h"

#include <gtest/gtest.h>
#include <string>

using namespace std::string_literals;

TEST(PortNames, NamesWithoutAComNumberAreNumberedFrom1000InTheOrderFirstSeen) {
    test_support::ScriptedStations ports;
    weather::Link link{ports, ports};
    const struct {
        std::string listed;
        int number;
        std::string name;
    } cases[] = {
        {"COM3\0"s, 3, "COM3"},
        {"CNCA0", 1000, "CNCA0"},
        {"BthModem2\0"s, 1001, "BthModem2"},
        {"COM12 (ttyS11)", 12, "COM12"},
        {"CNCA0\0"s, 1000, "CNCA0"},  // the same name, with or without its NUL
        {"COM999", 999, "COM999"},    // the highest COM number
        {"COM1000", 1002, "COM1000"}, // a number that would land on a named port's
        {"COM0\0"s, 1003, "COM0"},    // no port is 0
        {"", 0, "COM0"},              // no name, no port
        {std::string(1, '\0'), 0, "COM0"},
    };
    for (int round = 0; round < 2; ++round) // the numbers hold for the whole run
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.listed));
            const std::int16_t number = link.port_number(c.listed);
            EXPECT_EQ(number, c.number);
            EXPECT_EQ(link.port_name(number), c.name);
            EXPECT_EQ(link.is_named(number), c.number >= weather::first_named_port);
        }
    EXPECT_FALSE(link.is_named(1004)); // no name has it yet
    EXPECT_EQ(link.port_name(1004), "COM1004");
}

TEST(PortNames, ANamedNumberOpensThePortUnderItsName) {
    test_support::ScriptedStations ports;
    auto& named = ports.add_named("CNCA0", "$#52.5,1,23.4,2,101325\r");
    auto& numbered = ports.add(1000, "$#10,1,10,2,90000\r"); // a device no name may reach
    weather::Link link{ports, ports};
    ASSERT_EQ(link.port_number("CNCA0"), 1000);

    ASSERT_TRUE(link.open_port(1000));
    link.poll_station();
    EXPECT_EQ(named.opens, 1);
    EXPECT_EQ(named.sent, "D");
    EXPECT_EQ(numbered.opens, 0);
    EXPECT_EQ(link.state.com_port, 1000);
    EXPECT_FLOAT_EQ(link.state.pressure, 1013.25f);

    EXPECT_FALSE(link.open_port(1001)); // no name has this number: no device
    EXPECT_EQ(numbered.opens, 0);
}
