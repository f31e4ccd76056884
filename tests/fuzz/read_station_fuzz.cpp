// The sentence decoder as the program drives it: bytes from a scripted port, taken by polls
// and reads, with runs of misses and re-opens in between. Whatever arrives, the link state
// keeps its rules: the receive line stays within its bound and never holds a byte below 10,
// readings are finite floats, the link kind and the miss counter stay in their ranges, and no
// read takes more than its budget of bytes.
#include "fuzz_check.h"
#include "listed_ports.h"
#include "scripted_port.h"
#include "weather.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace {

using test_support::ScriptedPort;

void check(const weather::LinkState& s) {
    FUZZ_CHECK(s.rx_line.size() <= weather::rx_line_limit);
    for (const char c : s.rx_line)
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 10);
    FUZZ_CHECK(std::isfinite(s.humidity));
    FUZZ_CHECK(std::isfinite(s.pressure));
    FUZZ_CHECK(std::isfinite(s.temperature));
    FUZZ_CHECK(s.link_kind == 0 || s.link_kind == 2 || s.link_kind == 3);
    FUZZ_CHECK(s.miss_count >= -6);
    FUZZ_CHECK(s.miss_count < 0 || s.link_kind == 0);
}

// One poll or read; it takes at most its budget of bytes.
void read(weather::Link& link, const ScriptedPort& port, bool poll) {
    const std::size_t before = port.taken;
    poll ? link.poll_station() : link.read_station();
    FUZZ_CHECK(port.taken - before <= std::size_t(weather::read_byte_budget));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ScriptedPort port;
    test_support::ListedPorts lister;
    weather::Link link(port, lister);
    link.open_port(1);
    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 9)) {
        case 0:
            read(link, port, true);
            break;
        case 1:
            read(link, port, false);
            break;
        case 2: { // after hours of silence (the state 32760 misses leave), some more reads
            link.state.miss_count = std::max<std::int16_t>(link.state.miss_count, 32760);
            link.state.link_kind = 0;
            for (int misses = input.ConsumeIntegralInRange<int>(0, 16); misses > 0; --misses)
                read(link, port, false);
            break;
        }
        case 3:
            link.open_port(input.ConsumeIntegral<std::int16_t>());
            break;
        case 4:
            link.close_port();
            break;
        default: // the station sends something
            port.feed(input.ConsumeRandomLengthString(4096));
            break;
        }
        check(link.state);
    }
    // What is still queued is read out.
    for (int reads = 0; reads < 64 && !port.script.empty(); ++reads) {
        read(link, port, false);
        check(link.state);
    }
    return 0;
}
