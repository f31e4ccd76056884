// The real station-sim binary, in a throwaway config folder, polled through the program's own
// station link on the port map's COM<n> link.
#include "pty_pair.h"
#include "weather.h"

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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test_support::TempDir;

constexpr auto start_limit = std::chrono::seconds(5);
constexpr auto exit_limit = std::chrono::seconds(3);

std::string read_text(const std::string& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int count_of(const std::string& text, const std::string& word) {
    int n = 0;
    for (auto p = text.find(word); p != std::string::npos; p = text.find(word, p + 1))
        ++n;
    return n;
}

// One station-sim process with XDG_CONFIG_HOME in `home`, its output in files there. Killed
// and reaped when the object goes, whatever the test did.
class Sim {
public:
    Sim(const TempDir& home, const std::vector<std::string>& args, const std::string& tag = "sim")
        : out_(home.path() + "/" + tag + ".out"), err_(home.path() + "/" + tag + ".err") {
        std::vector<std::string> env = {"XDG_CONFIG_HOME=" + home.path()};
        for (char** e = environ; *e; ++e)
            if (std::string_view(*e).rfind("XDG_CONFIG_HOME=", 0) != 0)
                env.emplace_back(*e);
        std::vector<std::string> argv = {STATION_SIM_PATH};
        argv.insert(argv.end(), args.begin(), args.end());

        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const auto c_strings = [](std::vector<std::string>& v) {
            std::vector<char*> p;
            for (auto& s : v)
                p.push_back(s.data());
            p.push_back(nullptr);
            return p;
        };
        auto argv_p = c_strings(argv);
        auto env_p = c_strings(env);
        if (posix_spawn(&pid_, argv_p[0], &fa, nullptr, argv_p.data(), env_p.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }

    // Asks it to end first, so that it removes its link; a station that does not end in
    // time is killed.
    ~Sim() {
        if (pid_ <= 0 || exited())
            return;
        ::kill(pid_, SIGTERM);
        if (!wait_exit())
            ::kill(pid_, SIGKILL);
        if (!status_)
            ::waitpid(pid_, nullptr, 0);
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    pid_t pid() const { return pid_; }
    std::string out() const { return read_text(out_); }
    std::string err() const { return read_text(err_); }

    // True once the start line "station-sim: COM<n> -> ..." is out: the link is in place.
    bool wait_started() {
        const auto deadline = Clock::now() + start_limit;
        while (Clock::now() < deadline) {
            if (out().find("station-sim: COM") != std::string::npos)
                return true;
            if (pid_ <= 0 || exited())
                return false;
            std::this_thread::sleep_for(milliseconds(5));
        }
        return false;
    }

    // The exit status once the process has ended by itself within `limit`; -1 for a process
    // that was killed by a signal.
    std::optional<int> wait_exit(Clock::duration limit = exit_limit) {
        const auto deadline = Clock::now() + limit;
        while (!exited() && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(5));
        if (!status_)
            return std::nullopt;
        return WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
    }

private:
    bool exited() {
        if (status_)
            return true;
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = status;
        return status_.has_value();
    }

    std::string out_;
    std::string err_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The program's view of the machine: the port map is the one the simulator writes into;
// no real device is visible.
platform::PosixPaths program_paths(const TempDir& home) {
    platform::PosixPaths p = test_support::isolated_paths(home);
    p.port_map = home.path() + "/KORVANE_1/ports";
    return p;
}

class StationSim : public ::testing::Test {
protected:
    std::string map_link(int port) const { return paths.port_map + "/COM" + std::to_string(port); }
    bool linked(int port) const { return fs::is_symlink(fs::symlink_status(map_link(port))); }

    // The simulator answers within a millisecond or so, but a busy machine can delay it past
    // the 10 ms read; such a late reply is decoded by the next poll.
    bool poll_until_decoded() {
        for (int i = 0; i < 20; ++i) {
            link.poll_station();
            if (link.state.pressure != 0)
                return true;
            std::this_thread::sleep_for(milliseconds(20));
        }
        return false;
    }

    // Reads what has queued up, decoded sentences until the first miss; returns how many
    // sentences it decoded.
    int drain() {
        std::this_thread::sleep_for(milliseconds(100));
        int decoded = 0;
        for (;;) {
            link.state.pressure = 0;
            link.read_station();
            if (link.state.pressure == 0)
                return decoded;
            ++decoded;
        }
    }

    TempDir home;
    platform::PosixPaths paths = program_paths(home);
    std::unique_ptr<platform::SerialPort> serial = platform::make_posix_serial_port(paths);
    std::unique_ptr<platform::PortLister> lister = platform::make_posix_port_lister(paths);
    weather::Link link{*serial, *lister};
};

TEST_F(StationSim, SendsExactlyTheSentenceThatItsOptionsDescribe) {
    struct Case {
        std::vector<std::string> args;
        std::string bytes;
    };
    const Case cases[] = {
        {{"--humidity", "52.5", "--temperature", "23.4", "--pressure", "1013.25"},
         "$#52.5,1,23.4,2,101325\r"},
        {{"--format", "star", "--temperature", "20", "--humidity", "40", "--pressure", "1013.2"},
         "$1,68.0,40.0,2,29.920*\r"},
        {{"--crlf"}, "$#50.0,1,20.0,2,101325\r\n"},
        {{"--format=star", "--temperature=-5.5", "--crlf"}, "$1,22.1,50.0,2,29.921*\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--port", "2", "--quiet"});
        Sim sim(home, args);
        ASSERT_TRUE(sim.wait_started()) << sim.err();
        const platform::Handle h = serial->open(2);
        ASSERT_TRUE(platform::is_open_handle(h));
        serial->write_byte(h, weather::poll_byte);
        std::string got;
        for (const auto deadline = Clock::now() + std::chrono::seconds(2);
             Clock::now() < deadline;) {
            if (const auto b = serial->read_byte(h))
                got += static_cast<char>(*b);
            else if (!got.empty() && got.back() == c.bytes.back())
                break;
        }
        serial->close(h);
        EXPECT_EQ(got, c.bytes);
    }
}

TEST_F(StationSim, EitherSentenceFormatIsDecodedIntoTheLinkState) {
    struct Case {
        std::vector<std::string> args;
        float humidity, pressure, temperature; // percent, millibar, degrees Celsius
        int link_kind;
    };
    const Case cases[] = {
        {{"--humidity", "52.5", "--temperature", "23.4", "--pressure", "1013.25"},
         52.5f,
         1013.25f,
         23.4f,
         2},
        {{"--format", "star", "--humidity", "40", "--temperature", "-5.5", "--pressure", "1013.2"},
         40.0f,
         1013.2f,
         -5.5f,
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link_kind);
        Sim sim(home, c.args);
        ASSERT_TRUE(sim.wait_started()) << sim.err();
        ASSERT_TRUE(link.open_port(1));
        ASSERT_TRUE(poll_until_decoded());
        EXPECT_FLOAT_EQ(link.state.humidity, c.humidity);
        // inHg goes out with three decimals: 0.001 inHg is 0.034 mbar.
        EXPECT_NEAR(link.state.pressure, c.pressure, 0.02);
        EXPECT_NEAR(link.state.temperature, c.temperature, 1e-4);
        EXPECT_EQ(link.state.link_kind, c.link_kind);
        link.close_port();
    }
}

TEST_F(StationSim, DriftingReadingsStayPlausible) {
    Sim sim(home, {"--drift", "--humidity", "99.9", "--temperature", "31", "--quiet"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    ASSERT_TRUE(link.open_port(1));
    for (int i = 0; i < 5; ++i) {
        link.state.pressure = 0;
        ASSERT_TRUE(poll_until_decoded());
        EXPECT_LE(link.state.humidity, 100);
        EXPECT_NEAR(link.state.humidity, 99.9, 2);
        EXPECT_NEAR(link.state.temperature, 31, 1);
        EXPECT_NEAR(link.state.pressure, 1013.25, 1);
    }
}

TEST_F(StationSim, ADelayedReplyIsDecodedByALaterReadAndNoPollIsLost) {
    Sim sim(home, {"--delay", "200"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    ASSERT_TRUE(link.open_port(1));
    // No reply can be there before `due`; a read that ends earlier must miss. (On a busy
    // machine a read may end later; it then proves nothing and is only counted.)
    const auto due = Clock::now() + milliseconds(200);
    int decoded = 0;
    const auto read = [&](bool poll) {
        poll ? link.poll_station() : link.read_station();
        if (link.state.pressure == 0)
            return;
        EXPECT_GE(Clock::now(), due) << "a reply came before its delay";
        EXPECT_EQ(link.state.link_kind, 2);
        link.state.pressure = 0;
        ++decoded;
    };
    for (int i = 0; i < 3; ++i)
        read(true);
    std::this_thread::sleep_until(due - milliseconds(100));
    read(false);

    std::this_thread::sleep_until(due + milliseconds(50));
    for (const auto deadline = Clock::now() + std::chrono::seconds(2);
         decoded < 3 && Clock::now() < deadline;)
        read(false); // no new poll byte
    EXPECT_EQ(decoded, 3);
    EXPECT_EQ(drain(), 0);
}

TEST_F(StationSim, WithCrLfLineEndsEveryPollKeepsDecoding) {
    Sim sim(home, {"--crlf", "--quiet"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    ASSERT_TRUE(link.open_port(1));
    ASSERT_TRUE(poll_until_decoded());
    drain();
    int decoded = 0;
    for (int i = 0; i < 5; ++i) {
        link.state.pressure = 0;
        link.poll_station();
        decoded += link.state.pressure != 0;
        EXPECT_EQ(link.state.link_kind, 2);
    }
    EXPECT_EQ(decoded + drain(), 5);
}

TEST_F(StationSim, ASilentStationHoldsThePortButNeverAnswers) {
    Sim sim(home, {"--silent"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    ASSERT_TRUE(link.open_port(1));
    for (int i = 0; i < 6; ++i)
        link.poll_station();
    EXPECT_EQ(link.state.link_kind, 0);
    EXPECT_EQ(link.state.miss_count, 0);
    EXPECT_EQ(link.state.pressure, 0);
    // The polls did reach it.
    for (const auto deadline = Clock::now() + std::chrono::seconds(2);
         count_of(sim.out(), "(silent)") < 6 && Clock::now() < deadline;)
        std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(count_of(sim.out(), "(silent)"), 6) << sim.out();
}

TEST_F(StationSim, AfterItsAnswersTheStationFallsSilentAndIsLost) {
    Sim sim(home, {"--answer", "2"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    ASSERT_TRUE(link.open_port(1));
    int decoded = 0;
    bool was_linked = false;
    for (int i = 0; i < 20; ++i) {
        link.poll_station();
        was_linked = was_linked || link.state.link_kind == 2;
        if (link.state.pressure != 0) {
            ++decoded;
            link.state.pressure = 0;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(was_linked);
    EXPECT_EQ(decoded, 2);
    EXPECT_EQ(link.state.link_kind, 0);
    EXPECT_GE(link.state.miss_count, 0);
    EXPECT_TRUE(sim.wait_exit(milliseconds(0)) == std::nullopt) << "it still holds the port";
    EXPECT_TRUE(linked(1));
}

TEST_F(StationSim, KeepsServingWhenTheProgramClosesAndReopensThePort) {
    Sim sim(home, {"--quiet"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(link.open_port(1)); // closes the port that was open first
        ASSERT_TRUE(poll_until_decoded());
        EXPECT_EQ(link.state.link_kind, 2);
        if (round == 1)
            link.close_port();
    }
}

// CPU time that process `pid` has used so far, in clock ticks; -1 when it cannot be read.
long cpu_ticks(pid_t pid) {
    const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

TEST_F(StationSim, AWaitingStationDoesNotSpin) {
    Sim sim(home, {"--delay", "5000", "--quiet"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    ASSERT_TRUE(link.open_port(1));
    link.poll_station(); // leaves a reply waiting for its time
    link.close_port();   // and nobody on the program's end
    const long before = cpu_ticks(sim.pid());
    ASSERT_GE(before, 0);
    std::this_thread::sleep_for(milliseconds(500));
    // A loop that spins would use most of the half second.
    EXPECT_LT(cpu_ticks(sim.pid()) - before, sysconf(_SC_CLK_TCK) / 10);
}

TEST_F(StationSim, HangingUpEndsTheLinkWithoutLeavingABusyPort) {
    Sim sim(home, {"--hangup-after", "1"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    ASSERT_TRUE(link.open_port(1));
    ASSERT_TRUE(poll_until_decoded());
    EXPECT_EQ(sim.wait_exit(), 0) << sim.err();
    EXPECT_NE(sim.out().find("hung up"), std::string::npos) << sim.out();
    EXPECT_FALSE(linked(1));

    // Every read of the hung-up port is a miss that takes its whole time-out.
    const auto start = Clock::now();
    for (int i = 0; i < 6; ++i)
        link.poll_station();
    EXPECT_GE(Clock::now() - start, milliseconds(50));
    EXPECT_EQ(link.state.link_kind, 0);
    EXPECT_EQ(link.state.miss_count, 0);
    EXPECT_FALSE(link.open_port(1)) << "the link is gone";
}

TEST_F(StationSim, ASignalRemovesTheLinkAndEndsTheStation) {
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        Sim sim(home, {"--port", "5"});
        ASSERT_TRUE(sim.wait_started()) << sim.err();
        ASSERT_TRUE(linked(5));
        ::kill(sim.pid(), sig);
        EXPECT_EQ(sim.wait_exit(), 0);
        EXPECT_FALSE(linked(5));
    }
}

TEST_F(StationSim, ASecondStationOnATakenPortRefusesAndLeavesTheFirstAlone) {
    Sim first(home, {"--port", "7", "--quiet"}, "first");
    ASSERT_TRUE(first.wait_started()) << first.err();
    const fs::path target = fs::read_symlink(map_link(7));

    Sim second(home, {"--port", "7"}, "second");
    EXPECT_EQ(second.wait_exit(), 1);
    const std::string err = second.err();
    EXPECT_NE(err.find("COM7"), std::string::npos) << err;
    EXPECT_EQ(count_of(err, "\n"), 1) << err;

    EXPECT_EQ(fs::read_symlink(map_link(7)), target);
    ASSERT_TRUE(link.open_port(7));
    EXPECT_TRUE(poll_until_decoded());
}

TEST_F(StationSim, ALinkLeftByAStationThatIsGoneIsReplaced) {
    test_support::link_port(paths.port_map, 3, home.path() + "/no-such-pty");
    Sim sim(home, {"--port", "3", "--quiet"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    EXPECT_TRUE(fs::exists(map_link(3)));
    ASSERT_TRUE(link.open_port(3));
    EXPECT_TRUE(poll_until_decoded());
}

TEST_F(StationSim, ABadCommandLineIsRefusedWithOneLineAndStatus2) {
    const std::vector<std::string> bad[] = {
        {"--port", "0"},
        {"--port", "1000"},
        {"--port", "x1"},
        {"--port", "3x"},
        {"--port"},
        {"--delay", "-1"},
        {"--delay", "1.5"},
        {"--format", "xml"},
        {"--humidity", "fifty"},
        {"--humidity", "101"},
        {"--temperature", "20,5"},
        {"--pressure", "nan"},
        {"--answer", "-1"},
        {"--hangup-after", "0"},
        {"--answer", "1", "--hangup-after", "2"},
        {"--quiet=yes"},
        {"--frobnicate"},
        {"COM1"},
        {"--speed", "10"},
        {"--replay", "log.csv", "--drift"},
        {"--replay", "log.csv", "--speed", "0"},
        {"--replay", "/no/such/log.csv"},
        {"--replay", home.path()},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args.back());
        Sim sim(home, args);
        EXPECT_EQ(sim.wait_exit(), 2);
        const std::string err = sim.err();
        EXPECT_EQ(err.rfind("station-sim: ", 0), 0u) << err;
        EXPECT_EQ(count_of(err, "\n"), 1) << err;
        EXPECT_EQ(sim.out(), "");
    }
    EXPECT_FALSE(fs::exists(paths.port_map));
}

TEST_F(StationSim, HelpListsEveryOption) {
    Sim sim(home, {"--help"});
    EXPECT_EQ(sim.wait_exit(), 0);
    const std::string out = sim.out();
    for (const char* option : {"--port", "--format", "--humidity", "--pressure", "--temperature",
                               "--drift", "--delay", "--crlf", "--silent", "--answer",
                               "--hangup-after", "--replay", "--speed", "--quiet", "--help"})
        EXPECT_NE(out.find(option), std::string::npos) << option;
    EXPECT_FALSE(fs::exists(paths.port_map));
}

} // namespace

TEST_F(StationSim, EachPollLineShowsTheAirItDescribes) {
    Sim sim(home, {"--humidity", "65", "--pressure", "985.3", "--temperature", "27.4"});
    ASSERT_TRUE(sim.wait_started()) << sim.err();
    ASSERT_TRUE(link.open_port(1));
    link.poll_station();
    const std::string want = "$#65.0,1,27.4,2,98530  [Air density 1.132 kg/m\u00b3 (95.7 % of the "
                             "reference air) \u00b7 Density altitude 818 m";
    for (const auto deadline = Clock::now() + std::chrono::seconds(2);
         count_of(sim.out(), want) < 1 && Clock::now() < deadline;)
        std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(count_of(sim.out(), want), 1) << sim.out();
}
