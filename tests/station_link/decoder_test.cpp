// The poll, the two sentence formats and the miss state machine, on a scripted port that
// hands out bytes and misses exactly as written.
#include "listed_ports.h"
#include "scripted_port.h"
#include "weather.h"

#include <cfloat>
#include <gtest/gtest.h>
#include <string>

namespace {

using test_support::ScriptedPort;
using NoPorts = test_support::ListedPorts;

class Decoder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(link.open_port(1)); }
    // Feeds `bytes` and reads once, as a poll whose reply is already there.
    void receive(const std::string& bytes) {
        port.feed(bytes);
        link.read_station();
    }
    ScriptedPort port;
    NoPorts lister;
    weather::Link link{port, lister};
    weather::LinkState& s = link.state;
};

} // namespace

TEST(LinkState, StartsZeroedBeforeAnyOpen) {
    ScriptedPort port;
    NoPorts lister;
    weather::Link link(port, lister);
    EXPECT_EQ(link.state.com_port, 0);
    EXPECT_EQ(link.state.com_handle, platform::never_opened);
    EXPECT_EQ(link.state.pressure, 0);
    EXPECT_EQ(link.state.link_kind, 0);
    EXPECT_EQ(link.state.miss_count, 0);
    EXPECT_TRUE(link.state.rx_line.empty());
    link.close_port(); // before any open: nothing to close
    EXPECT_TRUE(port.closed.empty());
    EXPECT_EQ(link.state.com_handle, platform::never_opened);
}

TEST(LinkState, OpenResetsTheReadingAndClosesThePreviousPort) {
    ScriptedPort port;
    NoPorts lister;
    weather::Link link(port, lister);
    ASSERT_TRUE(link.open_port(3));
    port.feed("$#52.5,1,23.4,2,101325\r");
    link.read_station();
    ASSERT_EQ(link.state.link_kind, 2);

    port.missing_port = 4;
    EXPECT_FALSE(link.open_port(4));
    EXPECT_EQ(port.closed, std::vector<platform::Handle>{ScriptedPort::handle});
    EXPECT_EQ(link.state.com_port, 4); // kept although the open failed
    EXPECT_EQ(link.state.com_handle, platform::no_handle);
    EXPECT_EQ(link.state.humidity, 0);
    EXPECT_EQ(link.state.temperature, 0);
    EXPECT_EQ(link.state.pressure, 0);
    EXPECT_EQ(link.state.link_kind, 0);
    EXPECT_EQ(link.state.miss_count, -6);

    link.close_port(); // already failed: nothing more is closed
    EXPECT_EQ(port.closed.size(), 1u);
    link.poll_station(); // a poll of a failed port is a miss and sends nothing
    EXPECT_EQ(link.state.miss_count, -5);
    EXPECT_TRUE(port.sent.empty());
}

TEST(LinkState, ClosingKeepsTheReadingAndLinkKind) {
    ScriptedPort port;
    NoPorts lister;
    weather::Link link(port, lister);
    ASSERT_TRUE(link.open_port(1));
    port.feed("$#52.5,1,23.4,2,101325\r");
    link.read_station();
    link.close_port();
    link.close_port();
    EXPECT_EQ(port.closed.size(), 1u);
    EXPECT_EQ(link.state.com_handle, platform::no_handle);
    EXPECT_FLOAT_EQ(link.state.pressure, 1013.25f);
    EXPECT_EQ(link.state.link_kind, 2);
}

TEST_F(Decoder, PollSendsOneDThenReadsTheReply) {
    port.feed("$#52.5,1,23.4,2,101325\r");
    link.poll_station();
    EXPECT_EQ(port.sent, "D");
    EXPECT_FLOAT_EQ(s.pressure, 1013.25f);
}

TEST_F(Decoder, WorkedExamples) {
    struct Case {
        std::string received; // empty: nothing arrives within the read time-out
        float humidity, temperature, pressure;
        int link_kind, miss_count;
    };
    const Case cases[] = {
        {"$#52.5,1,23.4,2,101325\r", 52.5f, 23.4f, 1013.25f, 2, -6},
        {"$1,68,40,2,29.92*\r", 40, 20, static_cast<float>(29.92 * 33.8638), 3, -6},
        {"$#48\r", 48, 0, 0, 0, -6},
        {"", 0, 0, 0, 0, -5},
        {"*$#1,2,3,4,500\r", 1, 3, 5, 2, -6}, // "$", "#" and "*": a hash sentence
        {"junk$#5 0,x,2 1,x,100 000,tail\r", 50, 21, 1000, 2, -6}, // blanks inside fields
        {"$#-3,1,2,3,-500\r", -3, 2, -5, 0, -6}, // negative pressure: stored, not good
        {"$#,,,,\r", 0, 0, 0, 0, -6},
        {"$#1e1,0,2D1,0,1E5\r", 10, 20, 1000, 2, -6},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(link.open_port(1));
        if (c.received.empty())
            port.miss();
        receive(c.received);
        SCOPED_TRACE(c.received);
        EXPECT_FLOAT_EQ(s.humidity, c.humidity);
        EXPECT_FLOAT_EQ(s.temperature, c.temperature);
        EXPECT_FLOAT_EQ(s.pressure, c.pressure);
        EXPECT_EQ(s.link_kind, c.link_kind);
        EXPECT_EQ(s.miss_count, c.miss_count);
        EXPECT_TRUE(s.rx_line.empty());
    }
}

TEST_F(Decoder, StarPressureIsTheFloatOfTheDoubleProduct) {
    receive("$1,68,40,2,29.92*\r");
    EXPECT_EQ(s.pressure, static_cast<float>(29.92 * 33.8638));
    EXPECT_EQ(s.temperature, static_cast<float>((68.0 - 32) / 1.8));
}

TEST_F(Decoder, ALineWithOneMarkerWaitsForTheOtherAndFieldsCountFromTheFirstMarker) {
    port.feed("#9,\r");
    port.miss();
    link.read_station();
    EXPECT_EQ(s.rx_line, "#9,\r"); // kept, line end included
    EXPECT_EQ(s.miss_count, -5);
    receive("$ 1,2,3,4,5\r");
    // Fields start after the first "#", which came in the earlier line.
    EXPECT_FLOAT_EQ(s.humidity, 9);
    EXPECT_FLOAT_EQ(s.temperature, 2); // field 2 is "\r$ 1"
    EXPECT_FLOAT_EQ(s.pressure, 0.04f);
    EXPECT_EQ(s.link_kind, 2);
    EXPECT_TRUE(s.rx_line.empty());
}

TEST_F(Decoder, CrLfLinesDecodeAtTheCarriageReturnAndTheLineFeedStartsTheNextLine) {
    port.feed("$#52.5,1,23.4,2,101325\r\n$#40,1,20,2,100000\r\n");
    link.read_station();
    EXPECT_FLOAT_EQ(s.pressure, 1013.25f);
    EXPECT_EQ(port.script.size(), 21u); // the rest waits in the queue
    link.read_station();
    EXPECT_FLOAT_EQ(s.humidity, 40); // the leading line feed is harmless
    EXPECT_FLOAT_EQ(s.pressure, 1000);
    port.miss();
    link.read_station();
    EXPECT_EQ(s.rx_line, "\n");
}

TEST_F(Decoder, BytesBelowTenAreDroppedAndDigitsAroundThemJoin) {
    receive(std::string("$#5\x00"
                        "2.5,1,2\x09"
                        "3.4,2,101\x01"
                        "325\r",
                        26));
    EXPECT_FLOAT_EQ(s.humidity, 52.5f);
    EXPECT_FLOAT_EQ(s.temperature, 23.4f);
    EXPECT_FLOAT_EQ(s.pressure, 1013.25f);
}

TEST_F(Decoder, ALateReplyIsDecodedByTheNextRead) {
    port.miss(); // the station is slower than the read time-out
    port.feed("$#52.5,1,23.4,2,101325\r");
    link.poll_station();
    EXPECT_EQ(s.pressure, 0);
    EXPECT_EQ(s.miss_count, -5);
    link.read_station();
    EXPECT_FLOAT_EQ(s.pressure, 1013.25f);
    EXPECT_EQ(s.miss_count, -6);
}

TEST_F(Decoder, TheSixthMissInARowAfterAGoodSentenceMarksTheStationLost) {
    receive("$#52.5,1,23.4,2,101325\r");
    for (int miss = 1; miss <= 5; ++miss) {
        link.read_station();
        EXPECT_EQ(s.link_kind, 2) << "after miss " << miss;
    }
    link.read_station();
    EXPECT_EQ(s.miss_count, 0);
    EXPECT_EQ(s.link_kind, 0);
    receive("$#52.5,1,23.4,2,0\r"); // a sentence that is not good does not bring it back
    EXPECT_EQ(s.link_kind, 0);
    EXPECT_EQ(s.miss_count, 0);
    receive("$1,68,40,2,29.92*\r");
    EXPECT_EQ(s.link_kind, 3);
    EXPECT_EQ(s.miss_count, -6);
}

TEST_F(Decoder, MissCountStopsAtItsTop) {
    for (int i = 0; i < 32773 + 10; ++i)
        link.read_station();
    EXPECT_EQ(s.miss_count, 32767);
    EXPECT_EQ(s.link_kind, 0);
}

TEST_F(Decoder, ReceiveLineKeepsOnlyItsLatestCharacters) {
    std::string noise;
    for (int i = 0; i < 3000; ++i)
        noise += "abc\r"; // line ends without markers: nothing decodes
    port.feed(noise);
    while (!port.script.empty())
        link.read_station();
    EXPECT_EQ(s.rx_line.size(), weather::rx_line_limit);
    EXPECT_EQ(s.rx_line.substr(s.rx_line.size() - 4), "abc\r");
    // A good sentence after the noise is still decoded.
    receive("$#52.5,1,23.4,2,101325\r");
    EXPECT_FLOAT_EQ(s.pressure, 1013.25f);
    EXPECT_TRUE(s.rx_line.empty());
}

TEST_F(Decoder, AReadingThatNoFloatCanHoldDropsTheWholeSentence) {
    receive("$#52.5,1,23.4,2,101325\r");
    for (const std::string bad :
         {"$#1E39,1,2,3,100000\r", "$#1,1,1E400,3,100000\r", "$#1,1,2,3,1E41\r",
          "$1,1E39,40,2,29.92*\r", "$1,68,40,2,1E38*\r"}) {
        receive(bad);
        SCOPED_TRACE(bad);
        EXPECT_TRUE(s.rx_line.empty());
        EXPECT_FLOAT_EQ(s.humidity, 52.5f); // the last good reading stays
        EXPECT_FLOAT_EQ(s.pressure, 1013.25f);
        EXPECT_EQ(s.link_kind, 2);
        EXPECT_EQ(s.miss_count, -6);
    }
}

TEST_F(Decoder, AContinuousStreamHandsTheThreadBackAndLosesNothing) {
    port.feed(std::string(5000, 'x') + "$#52.5,1,23.4,2,101325\r");
    link.read_station();
    EXPECT_EQ(port.reads, weather::read_byte_budget);
    EXPECT_EQ(s.miss_count, -6); // not counted as a miss
    for (int i = 0; i < 10 && s.pressure == 0; ++i)
        link.read_station();
    EXPECT_FLOAT_EQ(s.pressure, 1013.25f);
}

TEST(PortList, AppendsTheListersNamesInItsOrder) {
    ScriptedPort port;
    NoPorts lister;
    lister.names = {"COM3", "COM1", "COM12"};
    weather::Link link(port, lister);
    std::vector<std::string> ports{"kept"};
    link.list_com_ports(ports);
    EXPECT_EQ(ports, (std::vector<std::string>{"kept", "COM3", "COM1", "COM12"}));
}
