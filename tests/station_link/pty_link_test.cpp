// The whole poll through the real serial port, with the test playing the station on the other
// end of a pseudo-terminal.
#include "posix_ports.h"
#include "pty_pair.h"
#include "weather.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono;

namespace {

class PtyLink : public ::testing::Test {
protected:
    void SetUp() override {
        test_support::link_port(paths.port_map, 3, pty.slave_path());
        ASSERT_TRUE(link.open_port(3));
    }

    test_support::TempDir dir;
    platform::PosixPaths paths = test_support::isolated_paths(dir);
    test_support::PtyPair pty;
    std::unique_ptr<platform::SerialPort> port = platform::make_posix_serial_port(paths);
    std::unique_ptr<platform::PortLister> lister = platform::make_posix_port_lister(paths);
    weather::Link link{*port, *lister};
    weather::LinkState& s = link.state;
};

} // namespace

TEST_F(PtyLink, AnImmediateReplyIsDecodedByTheSamePoll) {
    pty.write("$#52.5,1,23.4,2,101325\r"); // already waiting when the poll reads
    link.poll_station();
    EXPECT_EQ(pty.read_available(1000), "D");
    EXPECT_FLOAT_EQ(s.pressure, 1013.25f);
    EXPECT_EQ(s.link_kind, 2);
}

TEST_F(PtyLink, AReplyThatStartsLateIsDecodedByTheNextRead) {
    link.poll_station();
    EXPECT_EQ(s.pressure, 0);
    EXPECT_EQ(s.miss_count, -5);
    pty.write("$1,68,40,2,29.92*\r\n");
    usleep(20000);
    link.read_station();
    EXPECT_FLOAT_EQ(s.temperature, 20);
    EXPECT_EQ(s.link_kind, 3);
    link.read_station(); // the line feed is the start of the next line
    EXPECT_EQ(s.rx_line, "\n");
}

TEST_F(PtyLink, ReopeningThePortDropsWhatWasWaiting) {
    pty.write("$#52.5,1,23.4,2,101325\r");
    usleep(20000);
    ASSERT_TRUE(link.open_port(3));
    link.read_station();
    EXPECT_EQ(s.pressure, 0);
    EXPECT_EQ(s.miss_count, -5);
}

TEST_F(PtyLink, ARepliesQueuedBetweenReadsAreKept) {
    // Ten thousand bytes of noise and a sentence arrive while nobody reads.
    std::thread station([&] { pty.write(std::string(10000, 'n') + "$#40,1,20,2,100000\r"); });
    station.join();
    for (int i = 0; i < 40 && s.pressure == 0; ++i)
        link.read_station();
    EXPECT_FLOAT_EQ(s.pressure, 1000);
    EXPECT_FLOAT_EQ(s.humidity, 40);
}

TEST_F(PtyLink, AnUnplugInTheMiddleOfASentenceIsAMissAndTheLinkIsLostAfterSixPolls) {
    pty.write("$#52.5,1,23.4,2,101325\r");
    link.poll_station();
    ASSERT_EQ(s.link_kind, 2);
    pty.write("$#52.5,1,2");
    usleep(20000);
    pty.hang_up();
    const auto start = steady_clock::now();
    for (int poll = 1; poll <= 6; ++poll) {
        link.poll_station();
        EXPECT_EQ(s.link_kind, poll < 6 ? 2 : 0) << "poll " << poll;
    }
    // Each poll of the dead port still takes its read time-out: no spinning.
    EXPECT_GE(steady_clock::now() - start, milliseconds(55));
    EXPECT_EQ(s.miss_count, 0);
    EXPECT_FLOAT_EQ(s.humidity, 52.5f); // the cut sentence decoded nothing
}

TEST_F(PtyLink, PortListComesFromThePlatform) {
    std::vector<std::string> ports;
    link.list_com_ports(ports);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(weather::com_number(ports[0]), 3);
}
