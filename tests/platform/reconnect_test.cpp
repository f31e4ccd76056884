// A device that hangs up (an adapter pulled out) and comes back under the same port number:
// the serial port lets go of it at once and finds it again by itself, under the same handle.
#include "file_access.h"
#include "posix_ports.h"
#include "pty_pair.h"
#include "station_process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace std::chrono;
using platform::is_open_handle;
using test_support::PtyPair;
namespace fs = std::filesystem;

namespace {

int open_descriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n - 1; // the iterator's own
}

bool exclusive(int fd) {
    int on = 0;
    return ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
}

std::size_t lock_files(const std::string& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir))
        ++n;
    return n;
}

class Reconnect : public ::testing::Test {
protected:
    // Makes `pty` the device behind COM7 (the kernel may give a new pty an old number).
    void plug(PtyPair& pty) { test_support::link_port(paths.port_map, 7, pty.slave_path()); }

    // Reads until the device hangs up under the port, which then lets it go.
    void read_until_gone(platform::Handle h) {
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(port->read_byte(h), std::nullopt);
    }

    // Reads as the program does, a miss at a time, until `want` has come or `limit` is over.
    std::string read_for(platform::Handle h, std::size_t want, milliseconds limit) {
        std::string got;
        for (const auto end = steady_clock::now() + limit;
             got.size() < want && steady_clock::now() < end;)
            if (const auto b = port->read_byte(h))
                got += static_cast<char>(*b);
        return got;
    }

    test_support::TempDir dir;
    platform::PosixPaths paths = test_support::isolated_paths(dir);
    std::unique_ptr<platform::SerialPort> port = platform::make_posix_serial_port(paths);
};

} // namespace

TEST_F(Reconnect, AHungUpDeviceIsLetGoAtOnceAndTakenBackUnderTheSameHandle) {
    const int descriptors = open_descriptors();
    auto first = std::make_unique<PtyPair>();
    plug(*first);
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    ASSERT_EQ(lock_files(paths.lock_dir), 1u);

    first->hang_up();
    first.reset();
    const auto gone = steady_clock::now();
    read_until_gone(h);
    EXPECT_EQ(open_descriptors(), descriptors) << "the dead device is still held";
    EXPECT_EQ(lock_files(paths.lock_dir), 0u) << "its lock file is left behind";

    PtyPair second;
    plug(second);
    port->write_byte(h, 'D');
    const bool early = steady_clock::now() - gone < milliseconds(900);
    if (early) { // only meaningful when this ran well within the second
        EXPECT_FALSE(exclusive(second.slave())) << "looked for again sooner than a second";
        EXPECT_EQ(second.read_available(0), "");
    }

    std::this_thread::sleep_for(milliseconds(1100));
    port->write_byte(h, 'D'); // goes to the device that came back
    EXPECT_EQ(second.read_available(1000), "D");
    EXPECT_TRUE(exclusive(second.slave()));
    EXPECT_EQ(lock_files(paths.lock_dir), 1u);
    termios t{};
    ASSERT_EQ(tcgetattr(second.slave(), &t), 0);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    second.write("ok");
    EXPECT_EQ(read_for(h, 2, milliseconds(1000)), "ok");

    // And a second time: the port keeps coming back for as long as it is open.
    second.hang_up();
    read_until_gone(h);
    PtyPair third;
    plug(third);
    third.write("lost"); // sent before the port was taken again: discarded like at any open
    std::this_thread::sleep_for(milliseconds(1100));
    EXPECT_EQ(read_for(h, 1, milliseconds(100)), "");
    third.write("$");
    EXPECT_EQ(read_for(h, 1, milliseconds(1000)), "$");

    port->close(h);
    EXPECT_FALSE(exclusive(third.slave()));
    EXPECT_EQ(lock_files(paths.lock_dir), 0u);
}

TEST_F(Reconnect, ADeviceThatAnotherProgramTakesFirstStaysItsUntilItLetsGo) {
    auto first = std::make_unique<PtyPair>();
    plug(*first);
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    first.reset(); // hangs up
    read_until_gone(h);

    PtyPair second;
    plug(second);
    auto other = platform::make_posix_serial_port(paths);
    const auto theirs = other->open(7);
    ASSERT_TRUE(is_open_handle(theirs));
    std::this_thread::sleep_for(milliseconds(1100));
    port->write_byte(h, 'D'); // our retry finds it held
    second.write("x");
    EXPECT_EQ(read_for(h, 1, milliseconds(50)), "");
    EXPECT_EQ(other->read_byte(theirs), 'x');
    EXPECT_EQ(second.read_available(100), "") << "our poll reached a device we do not hold";

    other->close(theirs);
    std::this_thread::sleep_for(milliseconds(1100));
    port->write_byte(h, 'D');
    EXPECT_EQ(second.read_available(1000), "D");
    port->close(h);
}

TEST_F(Reconnect, AClosedPortIsNotTakenBackWhenItsDeviceReturns) {
    auto first = std::make_unique<PtyPair>();
    plug(*first);
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    first.reset();
    read_until_gone(h);
    port->close(h);

    PtyPair second;
    plug(second);
    std::this_thread::sleep_for(milliseconds(1100));
    port->write_byte(h, 'D');
    EXPECT_EQ(port->read_byte(h), std::nullopt);
    EXPECT_EQ(second.read_available(100), "");
    EXPECT_FALSE(exclusive(second.slave()));
    auto other = platform::make_posix_serial_port(paths);
    const auto theirs = other->open(7);
    EXPECT_TRUE(is_open_handle(theirs)) << "the closed port still holds the device";
    other->close(theirs);
}

TEST_F(Reconnect, AFifoUnderTheLockNameKeepsAReturningDeviceAwayWithoutAHang) {
    auto first = std::make_unique<PtyPair>();
    plug(*first);
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    first.reset();
    read_until_gone(h);

    PtyPair second;
    plug(second);
    const std::string lock = test_support::lock_file(paths, second.slave_path());
    ASSERT_EQ(mkfifo(lock.c_str(), 0644), 0);
    const std::string found = test_support::line_settings(second.slave());
    std::this_thread::sleep_for(milliseconds(1100));
    const auto tried = test_support::unless_stuck_on_fifo(lock, [&] {
        port->write_byte(h, 'D'); // the retry meets the FIFO
        return true;
    });
    ASSERT_TRUE(tried.has_value()) << "the retry waited on the lock";
    EXPECT_FALSE(exclusive(second.slave()));
    EXPECT_EQ(second.read_available(100), "");

    fs::remove(lock);
    std::this_thread::sleep_for(milliseconds(1100));
    port->write_byte(h, 'D');
    EXPECT_EQ(second.read_available(1000), "D");
    port->close(h);
    EXPECT_EQ(test_support::line_settings(second.slave()), found)
        << "the returning device keeps the settings it had";
}

TEST_F(Reconnect, AStationThatHangsUpAndComesBackAnswersTheSameHandleAgain) {
    paths.port_map = dir.path() + "/KORVANE_1/ports"; // where station-sim links its ports
    port = platform::make_posix_serial_port(paths);
    // One poll and its whole reply: up to the carriage return, or nothing after `limit`.
    const auto poll = [&](platform::Handle h, milliseconds limit) {
        port->write_byte(h, 'D');
        std::string reply = read_for(h, 1, limit);
        while (!reply.empty() && reply.back() != '\r') {
            const auto b = port->read_byte(h);
            if (!b)
                break;
            reply += static_cast<char>(*b);
        }
        return reply;
    };

    test_support::Station first(STATION_SIM_PATH, dir, {"--port", "7", "--hangup-after", "2"});
    ASSERT_TRUE(first.wait_started()) << first.out();
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    EXPECT_EQ(poll(h, milliseconds(1000)), "$#50.0,1,20.0,2,101325\r");
    EXPECT_EQ(poll(h, milliseconds(1000)), "$#50.0,1,20.0,2,101325\r");
    ASSERT_TRUE(first.wait_ended()) << first.out();
    EXPECT_NE(first.out().find("hung up"), std::string::npos) << first.out();
    EXPECT_EQ(poll(h, milliseconds(100)), "");

    test_support::Station second(STATION_SIM_PATH, dir, {"--port", "7", "--format", "star"});
    ASSERT_TRUE(second.wait_started()) << second.out();
    std::string reply;
    for (const auto end = steady_clock::now() + seconds(4);
         reply.empty() && steady_clock::now() < end;)
        reply = poll(h, milliseconds(20)); // the program's pace: a poll, a short read
    EXPECT_EQ(reply, "$1,68.0,50.0,2,29.921*\r");
    port->close(h);
}
