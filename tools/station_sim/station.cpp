#include "station.h"

#include "air_data.h"
#include "posix_ports.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace station_sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char poll_byte = 'D';
// The longest the loop sleeps before it looks at the stop flag again.
constexpr milliseconds loop_tick{100};
// A master that reports an error or end of file would wake poll() at once: pause instead.
constexpr milliseconds error_pause{50};
// Before hanging up, the last reply is given this long to reach the program, and at most
// hangup_linger_limit: closing the pty discards what the program has not read yet.
constexpr milliseconds hangup_linger{50};
constexpr milliseconds hangup_linger_limit{1000};

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop_signal(int sig) {
    stop_signal = sig;
}

// Without SA_RESTART, so that a signal also cuts the wait in poll() short.
void catch_stop_signals() {
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    // A reader of our output that goes away must not end us before the link is removed.
    std::signal(SIGPIPE, SIG_IGN);
}

std::runtime_error system_error(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Local time with milliseconds, "14:03:27.512".
std::string time_stamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms));
    return text;
}

// Scripts wait for these lines, so each goes out whole and at once.
void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

const char* format_name(Format f) {
    return f == Format::hash ? "hash" : "star";
}

// A poll and the reply it is owed; empty text: the station keeps silent.
struct Reply {
    Clock::time_point due;
    std::string text;
    std::string figures; // the air that the sentence describes, for the user to compare
};

// Where the readings come from: the options' air, fixed or drifting, or a log played back.
class Readings {
public:
    Readings(const Options& o, const Replay* replay) : o_(o), replay_(replay) {
        if (o.drift)
            drift_.emplace(o.reading, std::random_device{}());
    }

    // The reading for a poll at `now`, or nothing while the log has the station silent; `note`
    // says where in the log the poll fell.
    std::optional<Reading> next(Clock::time_point now, std::string& note) {
        if (!replay_)
            return drift_ ? drift_->step() : o_.reading;
        if (!started_)
            started_ = now; // the first poll starts the log
        const Replay::Moment m =
            replay_->at(std::chrono::duration<double>(now - *started_).count());
        if (m.ended && !told_end_) {
            told_end_ = true;
            say("station-sim: the replay has reached its last reading, logged " + m.last->time +
                "; it answers with that from now on");
        }
        note = (m.silent ? "not heard after " : "logged ") + m.last->time;
        if (m.silent)
            return std::nullopt;
        return m.last->reading;
    }

private:
    const Options& o_;
    const Replay* replay_;
    std::optional<Drift> drift_;
    std::optional<Clock::time_point> started_;
    bool told_end_ = false;
};

} // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

PtyStation::PtyStation(int port) {
    master_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master() < 0 || grantpt(master()) != 0 || unlockpt(master()) != 0)
        throw system_error("cannot make a pseudo-terminal");
    char name[128];
    if (ptsname_r(master(), name, sizeof name) != 0)
        throw system_error("cannot name the pseudo-terminal");
    device_ = name;
    // The master never blocks: a program that stops reading must not stall the station.
    ::fcntl(master(), F_SETFL, ::fcntl(master(), F_GETFL) | O_NONBLOCK);

    slave_.reset(::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (slave_.get() < 0)
        throw system_error("cannot open " + device_);
    // Raw: no echo of the poll byte, no line editing, no CR/LF translation of the replies.
    termios t{};
    if (::tcgetattr(slave_.get(), &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(slave_.get(), TCSANOW, &t);
    }

    const fs::path dir = platform::port_map_dir();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        throw std::runtime_error("cannot make the port map folder " + dir.string() + ": " +
                                 ec.message());
    const fs::path link = dir / ("COM" + std::to_string(port));
    // symlink() never replaces, so of two stations started together only one gets the link.
    // A link whose device is gone was left by a station that was killed; it is replaced. So
    // is one that names our own new pty: the kernel reuses the numbers of closed ptys.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::symlink(device_.c_str(), link.c_str()) == 0) {
            link_ = link.string();
            return;
        }
        if (errno != EEXIST)
            throw system_error("cannot make the link " + link.string());
        std::error_code target_ec;
        const bool ours = fs::equivalent(link, device_, target_ec);
        if (!ours && (fs::exists(link, target_ec) || target_ec)) {
            const std::string target = fs::read_symlink(link, target_ec).string();
            throw std::runtime_error("COM" + std::to_string(port) + " is taken: " + link.string() +
                                     (target.empty() ? "" : " -> " + target) +
                                     " (another station or a device); choose another --port");
        }
        fs::remove(link, target_ec);
    }
    throw std::runtime_error("cannot replace the dangling link " + link.string());
}

std::size_t PtyStation::unread() const {
    int n = 0;
    if (slave_.get() < 0 || ::ioctl(slave_.get(), FIONREAD, &n) != 0 || n < 0)
        return 0;
    return static_cast<std::size_t>(n);
}

void PtyStation::hang_up() {
    if (!link_.empty()) {
        // Someone may have replaced the link meanwhile; theirs stays.
        std::error_code ec;
        if (fs::read_symlink(link_, ec) == device_)
            fs::remove(link_, ec);
        link_.clear();
    }
    slave_.reset();
    master_.reset();
}

int serve(const Options& o, const Replay* replay) {
    catch_stop_signals();
    tzset();
    PtyStation station(o.port);
    const std::string com = "COM" + std::to_string(o.port);
    std::string source;
    if (replay) {
        char speed[32];
        std::snprintf(speed, sizeof speed, "%g", replay->speed());
        source = ", replaying " + std::to_string(replay->readings().size()) +
                 " readings logged from " + replay->readings().front().time + " to " +
                 replay->readings().back().time + " at speed " + speed;
    }
    say("station-sim: " + com + " -> " + station.device() + " (" + format_name(o.format) +
        " sentences" + source + ")");

    Readings readings(o, replay);
    const std::string line_end = o.crlf ? "\r\n" : "\r";
    const long long answer_limit =
        std::min(o.answer_limit.value_or(LLONG_MAX), o.hangup_after.value_or(LLONG_MAX));
    long long promised = 0; // polls that have been given a reply
    long long answered = 0; // replies sent
    Clock::time_point last_answer;
    std::deque<Reply> pending; // in the order of the polls; due times never decrease

    for (;;) {
        if (stop_signal) {
            station.hang_up();
            say("station-sim: " + com + " ended by signal " + std::to_string(stop_signal) +
                ", link removed");
            return 0;
        }

        auto now = Clock::now();
        while (!pending.empty() && pending.front().due <= now) {
            const Reply& r = pending.front();
            if (r.text.empty()) {
                if (!o.quiet)
                    say(time_stamp() + " (silent)" +
                        (r.figures.empty() ? "" : "  [" + r.figures + "]"));
            } else {
                const std::string bytes = r.text + line_end;
                const ssize_t n = ::write(station.master(), bytes.data(), bytes.size());
                ++answered;
                last_answer = now;
                if (!o.quiet)
                    say(time_stamp() + " " + r.text +
                        (n == static_cast<ssize_t>(bytes.size())
                             ? ""
                             : " (not all sent: the port's input queue is full)") +
                        "  [" + r.figures + "]");
            }
            pending.pop_front();
        }

        auto wait = loop_tick;
        if (o.hangup_after && answered >= *o.hangup_after) {
            const auto since = now - last_answer;
            if ((since >= hangup_linger && station.unread() == 0) || since >= hangup_linger_limit) {
                station.hang_up();
                say("station-sim: " + com + " hung up after " + std::to_string(answered) +
                    (answered == 1 ? " answered poll" : " answered polls") + ", link removed");
                return 0;
            }
            wait = std::min(wait, hangup_linger);
        }
        if (!pending.empty())
            wait = std::min(wait, std::chrono::ceil<milliseconds>(pending.front().due - now));

        pollfd p{station.master(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0)
            continue; // time-out, or a signal
        char bytes[256];
        const ssize_t n = ::read(station.master(), bytes, sizeof bytes);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            // No slave end open (EIO): cannot happen while we hold ours, but never spin on it.
            std::this_thread::sleep_for(error_pause);
            continue;
        }
        now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            if (bytes[i] != poll_byte)
                continue;
            Reply r{now + milliseconds(o.delay_ms), {}, {}};
            std::string note;
            const std::optional<Reading> reading =
                promised < answer_limit ? readings.next(now, note) : std::nullopt;
            if (reading) {
                ++promised;
                r.text = sentence(o.format, *reading);
                r.figures = air_data::describe(
                    {reading->temperature, reading->pressure, reading->humidity});
            }
            r.figures += (r.figures.empty() || note.empty() ? "" : " \u00b7 ") + note;
            pending.push_back(std::move(r));
        }
    }
}

} // namespace station_sim
