// USB serial adapters as their drivers are known to behave, replayed below the serial port's
// system calls: what reads, writes and the state calls give once the adapter is pulled out, an
// odd error that a healthy port gives now and then, and the number it comes back under. Every
// adapter has a station on it that answers each "D" at once. Error codes are Windows' own.
#pragma once

#include "port_life.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// The state calls, in the order the Windows port asks them.
inline constexpr unsigned clear_error = 1, modem_status = 2, comm_state = 4;

struct DriverBehaviour {
    const char* name; // the driver, and where its behaviour was reported
    unsigned healthy_state = clear_error | modem_status | comm_state;
    int odd_every = 0; // a healthy read fails with odd_error every so many reads
    long odd_error = 0;
    bool pulled_read_fails = false; // once pulled, reads fail with pulled_error; else time out
    long pulled_error = 0;          // what writes give once pulled; 0: they still work
    unsigned pulled_state = 0;      // the state calls that still work once pulled
    bool name_stays = false;        // the system still lists the port while the adapter is out
    int returns_as = 0;             // the number it comes back under; 0: its own
    bool opens_while_out = false;   // while the adapter is out, its name opens onto a device
                                    // on which every call fails as once pulled
};

inline const DriverBehaviour recorded_drivers[] = {
    // node-serialport#1011 (CH340, Windows 10): the read loop never sees the unplug.
    {"CH340: reads time out for ever", clear_error | modem_status | comm_state, 0, 0, false, 0,
     clear_error},
    // sigrok-pico#7 (libserialport): "Read error (22): The device does not recognize the
    // command", at every read once the device has gone.
    {"reads fail with 22", clear_error | modem_status | comm_state, 0, 0, true, 22, clear_error},
    // node-serialport#1961: writes fail with 31, reads end as aborted (995).
    {"writes fail with 31, reads with 995", clear_error | modem_status | comm_state, 0, 0, true,
     995, clear_error | comm_state},
    // RJCP.DLL.SerialPortStream#143 (CH343), ziglang/zig#23648: access denied (5) on reads and
    // writes after the unplug.
    {"access denied, 5", clear_error | modem_status | comm_state, 0, 0, true, 5, 0},
    // libserialport PR #17: the Windows 11 CDC driver ends a read as aborted (995) now and then
    // on a healthy port.
    {"usbser: 995 now and then while healthy", clear_error | modem_status | comm_state, 50, 995,
     true, 995, clear_error},
    // pyserial#575 (u-blox virtual port): ClearCommError always fails with 87.
    {"ClearCommError always fails with 87", modem_status | comm_state, 0, 0, false, 0, 0},
    // jSerialComm#538: the name stays while the device is away, and its open fails with
    // file-not-found (2) until it is back.
    {"name stays, open fails with 2", clear_error | modem_status | comm_state, 0, 0, false, 0,
     clear_error, true},
    // lua-periphery#20: a brief disconnect moves the device to the next port.
    {"comes back under another number", clear_error | modem_status | comm_state, 0, 0, true, 22, 0,
     false, 1},
    // Wine 8.0: each port of Wine's own port map is also a device object, \Device\SerialN
    // (dlls/mountmgr.sys/device.c, create_port_device). Once the port's device file has gone,
    // \\.\COMn opens that object instead, and every call on it fails with 1.
    {"open works while out, every call fails with 1", clear_error | modem_status | comm_state, 0, 0,
     true, 1, 0, true, 0, true},
};

// A machine's serial adapters behind the seam, all with one driver. Opens and closes may come
// from threads of their own; everything is guarded.
class RecordedMachine : public platform::SerialSystem, public platform::PortLister {
public:
    explicit RecordedMachine(DriverBehaviour driver) : driver_(driver) {}

    // An adapter comes in as COM<number>, its station answering every "D" with `reply`; the
    // adapter has `identity` (none: a port known by its name alone).
    void plug(int number, std::string reply = "$#50.0,1,20.0,2,101325\r",
              platform::AdapterIdentity identity = {}) {
        std::lock_guard lock(mutex_);
        adapters_[number] = Adapter{true, std::move(reply), std::move(identity)};
    }
    // How often the adapter now at COM<number> has been opened, and the bytes written to it.
    int opens(int number) {
        std::lock_guard lock(mutex_);
        return adapters_[number].opens;
    }
    int written(int number) {
        std::lock_guard lock(mutex_);
        return adapters_[number].written;
    }
    void pull(int number) {
        std::lock_guard lock(mutex_);
        adapters_[number].plugged = false;
        for (auto& [id, d] : devices_)
            if (d.number == number)
                d.alive = false;
    }
    // Opens, and closes too with `closes`, wait until let go (a Bluetooth port, a hung driver).
    void hold_opens(bool hold, bool closes = false) {
        std::lock_guard lock(mutex_);
        hold_opens_ = hold;
        hold_closes_ = hold && closes;
        opens_released_.notify_all();
    }
    // The next state call fails once, as a USB control transfer may on a busy bus.
    void fail_state_once() {
        std::lock_guard lock(mutex_);
        fail_state_once_ = true;
    }
    // Devices opened and not closed, and closes so far.
    int held() {
        std::lock_guard lock(mutex_);
        return static_cast<int>(devices_.size());
    }
    int closes() {
        std::lock_guard lock(mutex_);
        return closes_;
    }
    // The ports the system lists: "COM<n>" of each adapter in, and of those whose name stays.
    std::vector<std::string> list() override {
        std::lock_guard lock(mutex_);
        std::vector<std::string> names;
        for (const auto& [n, a] : adapters_)
            if (a.plugged || driver_.name_stays)
                names.push_back("COM" + std::to_string(n));
        return names;
    }

    std::optional<Device> open(const platform::PortId& port) override {
        std::unique_lock lock(mutex_);
        opens_released_.wait(lock, [&] { return !hold_opens_; });
        const auto it = adapters_.find(port.number);
        if (!port.name.empty() || it == adapters_.end() ||
            !(it->second.plugged || driver_.opens_while_out))
            return std::nullopt;
        for (const auto& [id, d] : devices_)
            if (d.number == port.number)
                return std::nullopt; // exclusive
        devices_[next_] = Open{port.number, it->second.plugged, {}, 0};
        ++it->second.opens;
        return next_++;
    }
    void close(Device device) override {
        std::unique_lock lock(mutex_);
        opens_released_.wait(lock, [&] { return !hold_closes_; });
        devices_.erase(device);
        ++closes_;
    }
    Read read(Device device) override {
        std::lock_guard lock(mutex_);
        Open& d = devices_.at(device);
        if (!d.alive)
            return driver_.pulled_read_fails ? Read{Read::Kind::failed, 0, driver_.pulled_error}
                                             : Read{};
        if (driver_.odd_every > 0 && ++d.reads % driver_.odd_every == 0)
            return {Read::Kind::failed, 0, driver_.odd_error};
        if (d.in.empty())
            return {};
        const char c = d.in.front();
        d.in.pop_front();
        return {Read::Kind::byte, static_cast<std::uint8_t>(c), 0};
    }
    long write(Device device, std::uint8_t value) override {
        std::lock_guard lock(mutex_);
        Open& d = devices_.at(device);
        if (!d.alive)
            return driver_.pulled_error;
        ++adapters_[d.number].written;
        if (value == 'D')
            d.in.insert(d.in.end(), adapters_[d.number].reply.begin(),
                        adapters_[d.number].reply.end());
        return 0;
    }
    unsigned line_state(Device device) override {
        std::lock_guard lock(mutex_);
        if (std::exchange(fail_state_once_, false))
            return 0;
        return devices_.at(device).alive ? driver_.healthy_state : driver_.pulled_state;
    }
    bool present(const platform::PortId& port) override {
        std::lock_guard lock(mutex_);
        const auto it = adapters_.find(port.number);
        return it != adapters_.end() && (it->second.plugged || driver_.name_stays);
    }
    platform::AdapterIdentity identity(const platform::PortId& port) override {
        std::lock_guard lock(mutex_);
        const auto it = adapters_.find(port.number);
        return it != adapters_.end() && it->second.plugged ? it->second.identity
                                                           : platform::AdapterIdentity{};
    }
    // Every failure is ambiguous here: the port must tell a pulled adapter by what it does.
    bool gone(long) const override { return false; }

private:
    struct Adapter {
        bool plugged = false;
        std::string reply;
        platform::AdapterIdentity identity;
        int opens = 0;
        int written = 0;
    };
    struct Open {
        int number = 0;
        bool alive = true;
        std::deque<char> in;
        int reads = 0;
    };

    const DriverBehaviour driver_;
    std::mutex mutex_;
    std::condition_variable opens_released_;
    bool hold_opens_ = false;
    bool hold_closes_ = false;
    bool fail_state_once_ = false;
    std::map<int, Adapter> adapters_;
    std::map<Device, Open> devices_;
    Device next_ = 100;
    int closes_ = 0;
};

} // namespace test_support
