// Serial ports as a test writes them, with no device and no time: numbered or named ports
// that are missing, held by another program, silent, or a station that answers each poll byte
// "D" with a sentence; and the port list the system gives. Every read of a port without a byte
// waiting is a miss.
#pragma once

#include "serial_port.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

class ScriptedStations : public platform::SerialPort, public platform::PortLister {
public:
    struct Device {
        std::string reply; // sent for every "D"; empty: a silent port
        bool held = false; // another program has it: it does not open
        bool late = false; // the reply comes after the poll's own read has missed
        int answers = -1;  // how many more polls it answers; -1: every one
        std::string sent;  // every byte written to it
        int opens = 0;
    };

    // Device COM<port>, listed as `listed` (by default "COM<port>") at the end of the list.
    Device& add(int port, std::string reply = {}, std::optional<std::string> listed = {}) {
        names.push_back(listed.value_or("COM" + std::to_string(port)));
        Device& d = devices[port];
        d.reply = std::move(reply);
        return d;
    }
    // A device that the system lists, and opens, under `name` alone ("CNCA0").
    Device& add_named(const std::string& name, std::string reply = {}) {
        names.push_back(name);
        Device& d = devices[platform::PortId::named(name)];
        d.reply = std::move(reply);
        return d;
    }
    // Bytes that arrive at the open port `port` now, as if sent unasked.
    void arrive(const platform::PortId& port, const std::string& bytes) {
        for (auto& [h, open] : open_)
            if (open.port == port)
                open.in.insert(open.in.end(), bytes.begin(), bytes.end());
    }
    int open_count() const { return static_cast<int>(open_.size()); }

    std::map<platform::PortId, Device> devices;
    std::vector<std::string> names;

    platform::Handle open(const platform::PortId& id) override {
        const auto it = devices.find(id);
        if (it == devices.end() || it->second.held)
            return platform::no_handle;
        for (const auto& [h, open] : open_)
            if (open.port == id)
                return platform::no_handle; // open already: exclusive
        ++it->second.opens;
        open_[next_] = Open{id, {}, {}};
        return next_++;
    }
    void close(platform::Handle h) override { open_.erase(h); }
    void write_byte(platform::Handle h, std::uint8_t value) override {
        const auto it = open_.find(h);
        if (it == open_.end())
            return;
        Device& d = devices[it->second.port];
        d.sent += static_cast<char>(value);
        if (value != 'D' || d.reply.empty() || d.answers == 0)
            return;
        if (d.answers > 0)
            --d.answers;
        if (d.late)
            it->second.late += d.reply;
        else
            it->second.in.insert(it->second.in.end(), d.reply.begin(), d.reply.end());
    }
    std::optional<std::uint8_t> read_byte(platform::Handle h) override {
        const auto it = open_.find(h);
        if (it == open_.end())
            return std::nullopt;
        Open& open = it->second;
        if (open.in.empty()) {
            open.in.insert(open.in.end(), open.late.begin(), open.late.end());
            open.late.clear();
            return std::nullopt;
        }
        const char c = open.in.front();
        open.in.pop_front();
        return static_cast<std::uint8_t>(c);
    }
    std::vector<std::string> list() override { return names; }

private:
    struct Open {
        platform::PortId port;
        std::deque<char> in;
        std::string late; // a late reply, on its way
    };
    std::map<platform::Handle, Open> open_;
    platform::Handle next_ = 1;
};

} // namespace test_support
