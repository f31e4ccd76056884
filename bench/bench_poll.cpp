// What one poll costs: through a pseudo-terminal whose station answers at once, and the decoding
// of a sentence alone from memory; and the look at the port list that every tick makes while
// the station's port is lost, on this machine's own devices.
#include "posix_ports.h"
#include "pty_pair.h"
#include "weather.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

const std::string sentence = "$#52.5,1,23.4,2,101325\r"; // 23 bytes, a typical reply

// Answers every "D" on the pty at once, from its own thread.
class InstantStation {
public:
    explicit InstantStation(test_support::PtyPair& pty) : pty_(pty), thread_([this] { run(); }) {}
    ~InstantStation() {
        stop_ = true;
        thread_.join();
    }

private:
    void run() {
        while (!stop_) {
            pollfd p{pty_.master(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[64];
            const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == 'D')
                    pty_.write(sentence);
        }
    }
    test_support::PtyPair& pty_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_PollStationOverPty(benchmark::State& state) {
    test_support::TempDir dir;
    const auto paths = test_support::isolated_paths(dir);
    test_support::PtyPair pty;
    test_support::link_port(paths.port_map, 1, pty.slave_path());
    auto port = platform::make_posix_serial_port(paths);
    auto lister = platform::make_posix_port_lister(paths);
    weather::Link link(*port, *lister);
    if (!link.open_port(1)) {
        state.SkipWithError("cannot open the pty");
        return;
    }
    InstantStation station(pty);
    long decoded = 0;
    for (auto _ : state) {
        link.poll_station();
        if (link.state.pressure > 0)
            ++decoded;
        link.state.pressure = 0;
    }
    state.counters["decoded_share"] =
        static_cast<double>(decoded) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PollStationOverPty)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Hands out the same sentence over and over, one byte per read.
class MemoryPort : public platform::SerialPort {
public:
    platform::Handle open(const platform::PortId&) override { return 1; }
    void close(platform::Handle) override {}
    void write_byte(platform::Handle, std::uint8_t) override {}
    std::optional<std::uint8_t> read_byte(platform::Handle) override {
        const auto b = static_cast<std::uint8_t>(sentence[next_]);
        next_ = (next_ + 1) % sentence.size();
        return b;
    }

private:
    std::size_t next_ = 0;
};

class NoLister : public platform::PortLister {
public:
    std::vector<std::string> list() override { return {}; }
};

void BM_DecodeSentence(benchmark::State& state) {
    MemoryPort port;
    NoLister lister;
    weather::Link link(port, lister);
    link.open_port(1);
    for (auto _ : state) {
        link.read_station();
        benchmark::DoNotOptimize(link.state.pressure);
    }
}
BENCHMARK(BM_DecodeSentence)->Unit(benchmark::kNanosecond);

} // namespace

void BM_ListPortsOfThisMachine(benchmark::State& state) {
    auto lister = platform::make_port_lister();
    for (auto _ : state)
        benchmark::DoNotOptimize(lister->list());
}
BENCHMARK(BM_ListPortsOfThisMachine)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
