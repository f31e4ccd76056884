// The POSIX serial port against pseudo-terminals: exclusive open, discarding, time-outs,
// hang-ups, and which device a port number stands for.
#include "file_access.h"
#include "posix_ports.h"
#include "pty_pair.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono;
using platform::is_open_handle;
namespace fs = std::filesystem;
using test_support::PtyPair;

namespace {

template <class F> milliseconds time_of(F&& f) {
    const auto start = steady_clock::now();
    f();
    return duration_cast<milliseconds>(steady_clock::now() - start);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The id of a process that has ended.
pid_t dead_pid() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override { test_support::link_port(paths.port_map, 7, pty.slave_path()); }

    test_support::TempDir dir;
    platform::PosixPaths paths = test_support::isolated_paths(dir);
    PtyPair pty;
    std::unique_ptr<platform::SerialPort> port = platform::make_posix_serial_port(paths);
};

} // namespace

TEST_F(SerialPort, BytesTravelBothWays) {
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    port->write_byte(h, 'D');
    EXPECT_EQ(pty.read_available(1000), "D");
    pty.write("ok");
    EXPECT_EQ(port->read_byte(h), 'o');
    EXPECT_EQ(port->read_byte(h), 'k');
    EXPECT_EQ(port->read_byte(h), std::nullopt);
    port->close(h);
}

TEST_F(SerialPort, SetsTheLineTo9600RawWithoutFlowControl) {
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave(), &t), 0);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    port->close(h);
}

TEST_F(SerialPort, OpenDiscardsWhatWasQueuedBefore) {
    pty.write("$#52.5,1,23.4,2,101325\r");
    usleep(20000);
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    EXPECT_EQ(port->read_byte(h), std::nullopt);
    port->close(h);
}

TEST_F(SerialPort, APortIsHeldByOneOpenerAtATime) {
    auto other = platform::make_posix_serial_port(paths);
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    EXPECT_EQ(other->open(7), platform::no_handle); // another program's view
    EXPECT_EQ(port->open(7), platform::no_handle);  // and a second open of our own
    port->close(h);
    const auto h2 = other->open(7);
    EXPECT_TRUE(is_open_handle(h2));
    other->close(h2);
}

TEST_F(SerialPort, HonoursTheLocksOfOtherSerialPrograms) {
    {
        const int fd = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(port->open(7), platform::no_handle) << "flock";
        ::close(fd);
    }
    {
        ASSERT_EQ(ioctl(pty.slave(), TIOCEXCL), 0);
        EXPECT_EQ(port->open(7), platform::no_handle) << "TIOCEXCL";
        ASSERT_EQ(ioctl(pty.slave(), TIOCNXCL), 0);
    }
    const std::string lock = paths.lock_dir + "/LCK.." + [&] {
        std::string n = platform::device_name(pty.slave_path());
        std::replace(n.begin(), n.end(), '/', '_');
        return n;
    }();
    {
        std::ofstream(lock) << "      " << getpid() << "\n"; // a live process holds it
        EXPECT_EQ(port->open(7), platform::no_handle) << "UUCP lock";
    }
    {
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        waitpid(child, nullptr, 0);
        std::ofstream(lock) << "      " << child << "\n"; // its owner is gone: stale
        const auto h = port->open(7);
        ASSERT_TRUE(is_open_handle(h)) << "stale UUCP lock";
        EXPECT_EQ(std::stol(read_file(lock)), getpid());
        port->close(h);
        EXPECT_FALSE(std::ifstream(lock).good()) << "lock file removed at close";
    }
}

// The lock folder is writable by every user, so anything may stand under a lock file's name.
TEST_F(SerialPort, ReadsLockFilesOfEitherFormatAndNeverWaitsOnOne) {
    const std::string lock = test_support::lock_file(paths, pty.slave_path());
    const std::string elsewhere = dir.path() + "/elsewhere";
    const pid_t dead = dead_pid();
    const auto binary = [&](std::int32_t pid) {
        std::ofstream(lock, std::ios::binary).write(reinterpret_cast<const char*>(&pid), 4);
    };
    struct Case {
        const char* what;
        std::function<void()> make;
        bool held;
    };
    const Case cases[] = {
        {"binary, live", [&] { binary(getpid()); }, true},
        {"binary, dead", [&] { binary(dead); }, false},
        {"binary, no process", [&] { binary(0); }, false},
        {"text of four bytes, live", [&] { std::ofstream(lock) << "  1\n"; }, true},
        {"FIFO", [&] { ASSERT_EQ(mkfifo(lock.c_str(), 0644), 0); }, true},
        {"folder", [&] { fs::create_directory(lock); }, true},
        {"link to a stale lock",
         [&] {
             std::ofstream(elsewhere) << dead << "\n";
             fs::create_symlink(elsewhere, lock);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        const auto kind = fs::symlink_status(lock).type();
        const std::string bytes =
            kind == fs::file_type::regular ? test_support::file_bytes(lock) : "";
        const auto h = test_support::unless_stuck_on_fifo(lock, [&] { return port->open(7); });
        ASSERT_TRUE(h.has_value()) << "the open waited on the lock";
        if (c.held) {
            EXPECT_EQ(*h, platform::no_handle);
            EXPECT_EQ(fs::symlink_status(lock).type(), kind) << "another's lock was removed";
            if (kind == fs::file_type::regular) {
                EXPECT_EQ(test_support::file_bytes(lock), bytes);
            }
        } else {
            ASSERT_TRUE(is_open_handle(*h));
            EXPECT_EQ(std::stol(read_file(lock)), getpid()) << "the stale lock was not replaced";
        }
        port->close(*h);
        fs::remove_all(lock);
        fs::remove(elsewhere);
    }
}

TEST_F(SerialPort, AStaleLockThatCannotBeRemovedDoesNotKeepThePortClosed) {
    const std::string lock = test_support::lock_file(paths, pty.slave_path());
    const std::string stale = "      " + std::to_string(dead_pid()) + "\n";
    std::ofstream(lock) << stale;
    // As for another user's lock in the sticky lock folder: it may not be removed.
    ASSERT_EQ(chmod(paths.lock_dir.c_str(), 0555), 0);
    {
        test_support::WithoutFileOverride as_a_user;
        const auto h = port->open(7);
        EXPECT_TRUE(is_open_handle(h));
        auto other = platform::make_posix_serial_port(paths);
        EXPECT_EQ(other->open(7), platform::no_handle) << "flock and the exclusive mode guard it";
        port->close(h);
    }
    chmod(paths.lock_dir.c_str(), 0755);
    EXPECT_EQ(test_support::file_bytes(lock), stale) << "another's lock file was touched";
}

TEST_F(SerialPort, GivesTheLineBackAsItFoundIt) {
    // A terminal as a user may leave it: cooked and echoing, 2400 baud, 7 bits, XON/XOFF.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave(), &t), 0);
    t.c_iflag = ICRNL | IXON | IXANY;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | CREAD;
    t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    t.c_cc[VINTR] = 3;
    cfsetispeed(&t, B2400);
    cfsetospeed(&t, B2400);
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &t), 0);
    const std::string found = test_support::line_settings(pty.slave());

    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "port object destroyed" : "port closed");
        const auto h = port->open(7);
        ASSERT_TRUE(is_open_handle(h));
        EXPECT_NE(test_support::line_settings(pty.slave()), found);
        if (destroy)
            port.reset();
        else
            port->close(h);
        EXPECT_EQ(test_support::line_settings(pty.slave()), found);
    }
}

TEST_F(SerialPort, ClosingGivesUpTheExclusiveMark) {
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    int exclusive = 0;
    ASSERT_EQ(ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_NE(exclusive, 0);
    port->close(h);
    ASSERT_EQ(ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

TEST_F(SerialPort, ASilentReadWaitsAboutTenMilliseconds) {
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    const auto took = time_of([&] {
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(port->read_byte(h), std::nullopt);
    });
    EXPECT_GE(took, milliseconds(45));
    EXPECT_LT(took, milliseconds(1000));
    port->close(h);
}

TEST_F(SerialPort, AHungUpPortReadsNothingAndNeverSpins) {
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    pty.hang_up();
    const auto took = time_of([&] {
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(port->read_byte(h), std::nullopt);
    });
    EXPECT_GE(took, milliseconds(90)); // each read still takes its time-out
    port->write_byte(h, 'D');          // fails quietly
    port->close(h);
}

TEST_F(SerialPort, AWriteThatCannotGoOutGivesUp) {
    const auto h = port->open(7);
    ASSERT_TRUE(is_open_handle(h));
    // Fill the line's output queue: the station never reads.
    const int flags = fcntl(pty.slave(), F_GETFL);
    fcntl(pty.slave(), F_SETFL, flags | O_NONBLOCK);
    // The kernel moves queued bytes on in the background, so fill until a pause frees no room.
    const std::string block(4096, 'x');
    for (int round = 0; round < 100; ++round) {
        bool took_any = false;
        while (::write(pty.slave(), block.data(), block.size()) > 0)
            took_any = true;
        while (::write(pty.slave(), "x", 1) > 0)
            took_any = true;
        if (!took_any && round > 0)
            break;
        usleep(20000);
    }
    const auto took = time_of([&] { port->write_byte(h, 'D'); });
    EXPECT_GE(took, milliseconds(100));
    EXPECT_LT(took, milliseconds(2000));
    port->close(h);
}

TEST_F(SerialPort, HandlesThatAreNotOpenAreMisses) {
    for (platform::Handle h :
         {platform::never_opened, platform::no_handle, platform::Handle{12345}}) {
        EXPECT_EQ(port->read_byte(h), std::nullopt);
        port->write_byte(h, 'D');
        port->close(h);
    }
}

TEST(PortDevice, NumbersMapToDevicesByTheUsersMapThenTheFixedRule) {
    test_support::TempDir dir;
    const auto paths = test_support::isolated_paths(dir);
    test_support::link_port(paths.port_map, 1, "/dev/null");
    test_support::link_port(paths.port_map, 500, "/nowhere/at/all");
    test_support::link_port(paths.port_map, 1000, "/dev/null");
    struct Case {
        int port;
        std::string want;
    };
    const Case cases[] = {
        {1, paths.port_map + "/COM1"}, // the map wins over ttyS0
        {2, paths.dev + "/ttyS1"},
        {32, paths.dev + "/ttyS31"},
        {33, paths.dev + "/ttyUSB0"},
        {64, paths.dev + "/ttyUSB31"},
        {65, paths.dev + "/ttyACM0"},
        {96, paths.dev + "/ttyACM31"},
        {97, ""},
        {500, paths.port_map + "/COM500"}, // a dangling link still owns its number
        {999, ""},
        {1000, ""}, // never cut to another port's number
        {0, ""},
        {-1, ""},
        {-32768, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::device_for_port(paths, c.port), c.want) << c.port;

    auto port = platform::make_posix_serial_port(paths);
    for (int n : {0, -1, 97, 500, 1000, 9999})
        EXPECT_EQ(port->open(n), platform::no_handle) << n;
}

TEST(PortDevice, OnlyACharacterDeviceIsAPort) {
    test_support::TempDir dir;
    const auto paths = test_support::isolated_paths(dir);
    const std::string file = dir.path() + "/file", folder = dir.path() + "/folder",
                      fifo = dir.path() + "/fifo";
    std::ofstream(file) << "keep these bytes\n";
    fs::create_directory(folder);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    auto port = platform::make_posix_serial_port(paths);
    for (const std::string& target : {file, folder, fifo}) {
        SCOPED_TRACE(target);
        test_support::link_port(paths.port_map, 7, target);
        const auto h = test_support::unless_stuck_on_fifo(fifo, [&] { return port->open(7); });
        ASSERT_TRUE(h.has_value()) << "the open waited on the FIFO";
        EXPECT_EQ(*h, platform::no_handle);
        port->write_byte(*h, 'D');
        port->close(*h);
    }
    EXPECT_EQ(test_support::file_bytes(file), "keep these bytes\n");
    EXPECT_TRUE(fs::is_empty(paths.lock_dir)) << "a lock was taken for what is no port";
}

TEST(PortDevice, TheKernelConsoleIsNeverAFixedRulePort) {
    test_support::TempDir dir;
    const auto paths = test_support::isolated_paths(dir);
    std::filesystem::create_directories(paths.sys_class_tty + "/ttyS0");
    std::ofstream(paths.sys_class_tty + "/ttyS0/console") << "Y\n";
    std::filesystem::create_directories(paths.sys_class_tty + "/console");
    std::ofstream(paths.sys_class_tty + "/console/active") << "tty0 ttyUSB3\n";
    EXPECT_EQ(platform::device_for_port(paths, 1), "");
    EXPECT_EQ(platform::device_for_port(paths, 36), "");
    EXPECT_EQ(platform::device_for_port(paths, 2), paths.dev + "/ttyS1");
    test_support::link_port(paths.port_map, 1, "/dev/null"); // the user means it
    EXPECT_EQ(platform::device_for_port(paths, 1), paths.port_map + "/COM1");
}
