// Thousands of display ticks against a station on a bad cable: noise, bytes below 10, cut
// sentences, over-long lines, late replies and an adapter pulled out and pushed back in. The
// ticks come one after another on the manual clock of the headless backend, without the two
// seconds between them; the port is the real one, on a pseudo-terminal.
#include "frmNimbrel.h"
#include "headless.h"
#include "listed_ports.h"
#include "posix_ports.h"
#include "pty_pair.h"
#include "settings_store.h"
#include "weather.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <random>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

using namespace std::chrono;

namespace {

std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

int open_descriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n - 1; // the iterator's own
}

enum Fault { noise, low_bytes, cut, over_long, late, hang_up, fault_kinds };
const char* const fault_names[fault_kinds] = {"noise",     "bytes below 10", "cut sentence",
                                              "over-long", "late reply",     "hang-up"};

// Every good sentence carries its number in the humidity, as hundredths; temperature and
// pressure are the same in all of them, so a sentence that was decoded whole can be told from
// one that leftovers of a fault were joined to.
constexpr int most_sentences = 99999;
constexpr double temperature_c = 21.5;
constexpr const char* pressure_shown = "1001.5";

std::string sentence(bool star, int number) {
    char text[64];
    const double humidity = number / 100.0;
    if (star) // 70.7 F is 21.5 C; 29.575 inHg is 1001.52 mb
        std::snprintf(text, sizeof text, "$1,70.7,%.2f,2,29.575*\r", humidity);
    else
        std::snprintf(text, sizeof text, "$#%.2f,1,21.5,2,100150\r", humidity);
    return text;
}

// A station on a pseudo-terminal linked as COM1, answering every poll byte from a thread of its
// own. While faults are on, some answers are replaced by one of the faults above. It keeps
// account of which good sentences the program owes: all but the first one after a fault that
// may leave text behind in the program's receive line (noise, a cut sentence, an over-long
// line, a hang-up), since the link rules join such leftovers to the next line. One poll in
// twelve or so brings a fault; the adapter is pulled out at every 400th.
class BadCableStation {
public:
    static constexpr int hang_up_every = 400;

    BadCableStation(std::string port_map, unsigned seed)
        : port_map_(std::move(port_map)), random_(seed), owed_(most_sentences + 1, false) {
        plug_in();
        thread_ = std::thread([this] { run(); });
    }
    ~BadCableStation() { stop(); }

    void faults(bool on) { faults_on_ = on; }
    // Polls from now on get no answer at all; what was sent stays queued for the program.
    void mute() { muted_ = true; }
    void stop() {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    // After stop():
    bool owed(int number) const { return owed_[std::size_t(number)]; }
    int sentences() const { return sent_; }
    int polls() const { return polls_; }
    int polls_with_faults() const { return faulty_polls_; }
    int injected(Fault f) const { return injected_[f]; }
    // Device lives that heard at least one poll: one more than the hang-ups when the program
    // found the station again after each.
    int lives_polled() const { return lives_polled_; }

private:
    void plug_in() {
        pty_ = std::make_unique<test_support::PtyPair>();
        ::fcntl(pty_->master(), F_SETFL, ::fcntl(pty_->master(), F_GETFL) | O_NONBLOCK);
        test_support::link_port(port_map_, 1, pty_->slave_path());
        star_ = std::uniform_int_distribution<int>(0, 1)(random_) == 1;
        ++lives_;
        polled_this_life_ = false;
    }

    // Bytes the program has not read yet.
    int unread() const {
        int n = 0;
        return ::ioctl(pty_->slave(), FIONREAD, &n) == 0 ? n : 0;
    }

    void send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size() && !stopping_) {
            const ssize_t n = ::write(pty_->master(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            pollfd p{pty_->master(), POLLOUT, 0};
            ::poll(&p, 1, 20); // the program's input queue is full: it reads at its own pace
        }
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    void answer_good(bool with_low_bytes) {
        const int number = ++sent_;
        if (number > most_sentences)
            return;
        std::string text = sentence(star_, number);
        if (with_low_bytes)
            for (int i = pick(1, 6); i > 0; --i)
                text.insert(std::size_t(pick(0, int(text.size()) - 1)), 1, char(pick(0, 9)));
        owed_[std::size_t(number)] = !exposed_;
        exposed_ = false;
        send(text);
    }

    void answer_poll() {
        ++polls_;
        polled_this_life_ = true;
        if (faults_on_ && ++faulty_polls_ % hang_up_every == 0) {
            inject(hang_up);
            return;
        }
        if (!faults_on_ || pick(0, 99) >= 8) {
            answer_good(false);
            return;
        }
        inject(Fault(pick(0, hang_up - 1)));
    }

    void inject(Fault f) {
        ++injected_[f];
        switch (f) {
        case noise: {
            std::string bytes(std::size_t(pick(1, 300)), '\0');
            for (char& c : bytes)
                c = char(pick(0, 255));
            send(bytes);
            exposed_ = true;
            break;
        }
        case low_bytes:
            answer_good(true);
            break;
        case cut: {
            std::string text = sentence(star_, 0);
            text.resize(std::size_t(pick(1, int(text.size()) - 2)));
            send(pick(0, 1) ? text + "\r" : text);
            exposed_ = true;
            break;
        }
        case over_long: {
            std::string line(std::size_t(pick(4097, 9000)), ' ');
            for (char& c : line)
                c = char(pick(32, 126));
            send(line + "\r");
            exposed_ = true;
            break;
        }
        case late:
            std::this_thread::sleep_for(milliseconds(pick(20, 300)));
            answer_good(false);
            break;
        case hang_up: {
            // Like an adapter pulled out once its last replies have gone through: nothing has
            // waited for the program for a while (the kernel hands written bytes on to the
            // reading side a moment later, so one look at an empty queue is not enough).
            auto quiet_since = steady_clock::now();
            for (const auto end = quiet_since + seconds(2); !stopping_;) {
                const auto now = steady_clock::now();
                if (unread() > 0)
                    quiet_since = now;
                else if (now - quiet_since >= milliseconds(50) || now >= end)
                    break;
                std::this_thread::sleep_for(milliseconds(2));
            }
            lives_polled_ += polled_this_life_;
            pty_.reset();
            std::this_thread::sleep_for(milliseconds(pick(0, 600)));
            plug_in();
            exposed_ = true;
            break;
        }
        case fault_kinds:
            break;
        }
    }

    void run() {
        while (!stopping_) {
            pollfd p{pty_->master(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char bytes[64];
            const ssize_t n = ::read(pty_->master(), bytes, sizeof bytes);
            const int life = lives_;
            // Polls that came in over a device that has since been pulled out died with it.
            for (ssize_t i = 0; i < n && !stopping_ && life == lives_; ++i)
                if (bytes[i] == 'D' && !muted_)
                    answer_poll();
            if (n <= 0)
                std::this_thread::sleep_for(milliseconds(5));
        }
        lives_polled_ += polled_this_life_;
        pty_.reset();
    }

    std::string port_map_;
    std::mt19937 random_;
    std::unique_ptr<test_support::PtyPair> pty_;
    std::thread thread_;
    std::atomic<bool> faults_on_{false};
    std::atomic<bool> muted_{false};
    std::atomic<bool> stopping_{false};
    bool star_ = false;
    bool exposed_ = true; // the program may hold text from before the first sentence
    bool polled_this_life_ = false;
    std::vector<bool> owed_;
    std::atomic<int> sent_{0};
    std::atomic<int> polls_{0};
    std::atomic<int> faulty_polls_{0};
    int lives_ = 0;
    int lives_polled_ = 0;
    int injected_[fault_kinds] = {};
};

class Soak : public ::testing::Test {
protected:
    Soak() { w.log_folder = dir.path() + "/logs"; }
    main_window::frmNimbrel& window() { return w; }

    // One display tick; notes the sentence it showed, if it showed one whole.
    void tick() {
        const auto start = steady_clock::now();
        backend.advance(2000);
        longest_tick = std::max(longest_tick, steady_clock::now() - start);
        ++ticks;
        const weather::LinkState& s = link.state;
        largest_rx_line = std::max(largest_rx_line, s.rx_line.size());
        if (!std::isfinite(s.humidity) || !std::isfinite(s.temperature))
            ++not_finite;
        if (window().txtPressure.back_colour() != window_system::colours::black)
            return; // idle: no reading since the last tick
        std::string pressure = window().txtPressure.text();
        std::replace(pressure.begin(), pressure.end(), ',', '.');
        const long number = std::lround(double(s.humidity) * 100);
        if (pressure == pressure_shown && std::fabs(s.temperature - temperature_c) < 1e-3 &&
            number >= 1 && number <= most_sentences) {
            shown_count += !shown[std::size_t(number)];
            shown[std::size_t(number)] = true;
        }
    }

    int ticks = 0;
    int shown_count = 0;
    steady_clock::duration longest_tick{};
    std::size_t largest_rx_line = 0;
    int not_finite = 0;
    std::vector<bool> shown = std::vector<bool>(most_sentences + 1, false);

    test_support::TempDir dir;
    platform::PosixPaths paths = test_support::isolated_paths(dir);
    std::unique_ptr<platform::SerialPort> port = platform::make_posix_serial_port(paths);
    test_support::ListedPorts lister;
    weather::Link link{*port, lister};
    std::unique_ptr<platform::SettingsStore> store =
        platform::make_file_settings_store(dir.path() + "/settings.conf");
    window_system::headless::Backend backend;
    window_system::Desktop desktop{backend};
    main_window::frmNimbrel w{desktop, link, *store};
};

} // namespace

TEST_F(Soak, ThousandsOfTicksOnABadCableLoseNothingAndLeakNothing) {
    // NIMBREL_SOAK_SEED and NIMBREL_SOAK_POLLS vary the run by hand.
    const auto from_environment = [](const char* name, unsigned fallback) {
        const char* text = std::getenv(name);
        return text ? unsigned(std::strtoul(text, nullptr, 10)) : fallback;
    };
    const unsigned seed = from_environment("NIMBREL_SOAK_SEED", 20240611u);
    const int polls_with_faults = int(from_environment("NIMBREL_SOAK_POLLS", 3200));
    constexpr int warm_up = 100, calm = 100;

    lister.names = {"COM1 (pts)"};
    BadCableStation station(paths.port_map, seed);
    window().show(); // opens COM1
    const platform::Handle handle = link.state.com_handle;
    ASSERT_TRUE(platform::is_open_handle(handle));

    for (int i = 0; i < warm_up; ++i)
        tick();
    const int descriptors_before = open_descriptors();
    const std::size_t heap_before = heap_in_use();

    // A station that stops hearing polls (a port never found again) ends the run here, far
    // beyond its usual length, instead of at the test's time-out.
    const auto give_up = steady_clock::now() + milliseconds(50) * polls_with_faults;
    station.faults(true);
    while (station.polls_with_faults() < polls_with_faults && steady_clock::now() < give_up)
        tick();
    ASSERT_GE(station.polls_with_faults(), polls_with_faults) << "the station went unpolled";
    // Then good sentences only, until enough of them have gone out; the first ones may wait
    // for the program to find a station that was just plugged back in.
    station.faults(false);
    const int sent_when_calm = station.sentences();
    while (station.sentences() - sent_when_calm < calm && steady_clock::now() < give_up)
        tick();
    // What is still on its way is read by the ticks that follow.
    station.mute();
    for (int quiet = 0; quiet < 10;) {
        const int before = shown_count;
        tick();
        quiet = shown_count == before ? quiet + 1 : 0;
    }
    const int descriptors_after = open_descriptors();
    const std::size_t heap_after = heap_in_use();
    station.stop();

    int owed = 0, lost = 0, lost_after_last_fault = 0, last_fault_free_run = 0;
    for (int n = 1; n <= std::min(station.sentences(), most_sentences); ++n) {
        if (!station.owed(n))
            continue;
        ++owed;
        if (!shown[std::size_t(n)]) {
            ++lost;
            ADD_FAILURE() << "sentence " << n << " was owed and never shown";
        }
    }
    for (int n = std::min(station.sentences(), most_sentences); n >= 1 && station.owed(n); --n) {
        ++last_fault_free_run;
        lost_after_last_fault += !shown[std::size_t(n)];
    }

    int faults = 0;
    std::string tally;
    for (int f = 0; f < fault_kinds; ++f) {
        faults += station.injected(Fault(f));
        tally += std::string(f ? ", " : "") + fault_names[f] + " " +
                 std::to_string(station.injected(Fault(f)));
    }
    std::printf("soak (seed %u): %d ticks, %d polls reached the station (%d with faults on), "
                "%d good sentences sent, "
                "%d owed, %d lost\n"
                "soak: %d faults injected: %s\n"
                "soak: last %d sentences after the last fault, %d of them lost\n"
                "soak: descriptors %d before, %d after; heap in use %zu bytes before, %zu after\n"
                "soak: longest tick %lld ms, longest receive line %zu\n",
                seed, ticks, station.polls(), station.polls_with_faults(), station.sentences(),
                owed, lost, faults, tally.c_str(), last_fault_free_run, lost_after_last_fault,
                descriptors_before, descriptors_after, heap_before, heap_after,
                static_cast<long long>(duration_cast<milliseconds>(longest_tick).count()),
                largest_rx_line);

    // Every kind of fault happened, more than once.
    for (int f = 0; f < fault_kinds; ++f)
        EXPECT_GE(station.injected(Fault(f)), 2) << fault_names[f];
    // After each hang-up the program found the station again by itself, on the same handle.
    EXPECT_EQ(station.lives_polled(), station.injected(hang_up) + 1);
    EXPECT_EQ(link.state.com_handle, handle);
    EXPECT_EQ(lost, 0);
    EXPECT_GE(last_fault_free_run, calm - 1);
    EXPECT_EQ(lost_after_last_fault, 0);
    EXPECT_LE(largest_rx_line, weather::rx_line_limit);
    EXPECT_EQ(not_finite, 0);
    // A tick must be over long before the next one is due.
    EXPECT_LT(longest_tick, milliseconds(2000));
    EXPECT_EQ(descriptors_after, descriptors_before);
    // The C library keeps small caches of its own; a leak of even a few bytes per tick
    // would come to far more than this over the run.
    EXPECT_LE(heap_after, heap_before + 16 * 1024);
}
