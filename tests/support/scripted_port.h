// One serial port as a test or a fuzz target writes it, with no device and no time: every
// read hands out the next scripted byte, or misses when the script says so or has run out.
// Free of any test framework, so that the fuzz targets use it too.
#pragma once

#include "serial_port.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

class ScriptedPort : public platform::SerialPort {
public:
    static constexpr platform::Handle handle = 42;

    // Every port number in range opens, but `missing_port`; an open discards what was waiting.
    platform::Handle open(const platform::PortId& port) override {
        open_now = port.number >= 1 && port.number <= platform::highest_port &&
                   port.number != missing_port;
        script.clear();
        return open_now ? handle : platform::no_handle;
    }
    void close(platform::Handle h) override {
        closed.push_back(h);
        open_now = false;
    }
    void write_byte(platform::Handle h, std::uint8_t value) override {
        if (open_now && h == handle)
            sent += static_cast<char>(value);
    }
    std::optional<std::uint8_t> read_byte(platform::Handle h) override {
        ++reads;
        if (!open_now || h != handle || script.empty())
            return std::nullopt;
        const auto next = script.front();
        script.pop_front();
        if (next)
            ++taken;
        return next;
    }

    // Queues bytes to be read; miss() queues a read that gets none.
    void feed(const std::string& bytes) {
        for (const unsigned char c : bytes)
            script.push_back(c);
    }
    void miss() { script.push_back(std::nullopt); }

    int missing_port = -1;
    bool open_now = false;
    long reads = 0;
    std::size_t taken = 0; // bytes handed out, ever
    std::string sent;
    std::vector<platform::Handle> closed;
    std::deque<std::optional<std::uint8_t>> script;
};

} // namespace test_support
