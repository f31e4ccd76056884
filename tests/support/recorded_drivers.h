// USB serial adapters as their drivers are known to behave, replayed below the serial port's
// system calls: what reads, writes and the state calls give once the adapter is pulled out, an
// odd error that a healthy port gives now and then, whether the system still lists the port and
// the number it comes back under. Every adapter has a station on it that answers each "D" at
// once. Error codes are Windows' own.
//
// Each row replays what its public source shows. What a source does not show is either left as
// it was before the pull, so that the row can be told only by what was seen, or taken from
// another source; `modelled` says which. A healthy port answers all three state calls unless its
// source says otherwise, as the serial API documents them.
#pragma once

#include "port_life.h"

#include <algorithm>
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
inline constexpr unsigned all_state = clear_error | modem_status | comm_state;

struct DriverBehaviour {
    const char* name;          // the driver and what it does
    const char* source = "";   // the public report and what it shows
    const char* modelled = ""; // what the row replays that its source does not show, and why
    unsigned healthy_state = all_state;
    int odd_every = 0; // a healthy read fails with odd_error every so many reads
    long odd_error = 0;
    bool pulled_read_fails = false;     // once pulled, reads fail with pulled_error; else time out
    long pulled_error = 0;              // what those reads give
    long pulled_write_error = 0;        // what writes give once pulled; 0: they still work
    unsigned pulled_state = all_state;  // the state calls that still work once pulled
    bool name_stays = false;            // the system lists the port for good while it is out
    bool name_stays_while_held = false; // ... until the last handle on the pulled device closes
    int returns_as = 0;                 // the number it comes back under; 0: its own
    bool opens_while_out = false;       // while the adapter is out, its name opens onto a device
                                        // on which every call fails as once pulled
};

inline const DriverBehaviour recorded_drivers[] = {
    {.name = "usbser: reads time out, GetCommState fails",
     .source = "libserialport#22 (a CDC device on Windows): \"on Windows the disconnect is not "
               "detected\" by reads, but sp_get_config, which is GetCommState there, fails after "
               "it. openFrameworks#4631 (an Arduino on Windows): reads give no error after the "
               "unplug. Arduino#11599 (an Uno R3 on Windows' CDC driver): the port stays under "
               "SERIALCOMM while it is still open after the unplug.",
     .modelled = "Writes, ClearCommError and GetCommModemStatus once pulled: not shown; they go "
                 "on working, so that GetCommState alone tells.",
     .pulled_state = clear_error | modem_status,
     .name_stays_while_held = true},
    {.name = "CH340: reads fail with access denied, 5",
     .source = "node-serialport#1145 (CH340, Windows 10), pulled while the program ran: "
               "\"Reading from COM port (ReadFile): Access denied\".",
     .modelled = "Writes, the state calls and the list once pulled: not shown (the program's one "
                 "write came before the pull); they go on as before, so that the reads alone "
                 "tell.",
     .pulled_read_fails = true,
     .pulled_error = 5,
     .name_stays_while_held = true},
    {.name = "reads and writes fail with access denied, 5",
     .source = "ziglang/zig#23648 (a USB serial adapter, not named, on Windows): \"reads/writes "
               "cause error.Unexpected if the USB adapter has been disconnected\", Windows "
               "reporting \"Access is Denied\" (5); its fix, ziglang/zig PR #23651, reads it so "
               "from ReadFile and WriteFile. node-serialport PR #632: pulling the cable makes "
               "writes fail with access denied.",
     .modelled = "The state calls and the list once pulled: not shown; they go on as before.",
     .pulled_read_fails = true,
     .pulled_error = 5,
     .pulled_write_error = 5,
     .name_stays_while_held = true},
    {.name = "a healthy read fails with 87 now and then",
     .source = "pyserial#121 (a USB serial port on Windows): \"in some strange cases\" a read "
               "ends with ERROR_INVALID_PARAMETER (87), which pyserial passed over.",
     .modelled = "How often: not shown; one read in 50. That reads work again after it: implied "
                 "(\"repeating reading\"), not stated. "
                 "The pull: not shown; replayed as ziglang/zig#23648 shows one, reads and writes "
                 "failing with 5, the state calls going on and the port listed while held.",
     .odd_every = 50,
     .odd_error = 87,
     .pulled_read_fails = true,
     .pulled_error = 5,
     .pulled_write_error = 5,
     .name_stays_while_held = true},
    {.name = "ClearCommError always fails with 87",
     .source = "pyserial#575 (a u-blox virtual serial port on Windows, not pulled): \"whenever "
               "ClearCommError is called\" it fails with 87.",
     .modelled = "GetCommModemStatus and GetCommState: not named; they work. "
                 "The pull: not shown; replayed as ziglang/zig#23648 shows one, reads and writes "
                 "failing with 5, the state calls going on and the port listed while held.",
     .healthy_state = modem_status | comm_state,
     .pulled_read_fails = true,
     .pulled_error = 5,
     .pulled_write_error = 5,
     .pulled_state = modem_status | comm_state,
     .name_stays_while_held = true},
    {.name = "comes back under another number",
     .source = "gnea/grbl#1188 (a CH340 on Windows): in another USB socket it is given \"a new "
               "communication port\". Arduino#1340 (an Uno R3 on Windows 7): plugged in again "
               "while a program still holds its old port, \"a new serial device will be "
               "created\". lua-periphery#20 shows the same on Linux.",
     .modelled = "The pull: not shown; replayed as ziglang/zig#23648 shows one, reads and writes "
                 "failing with 5, the state calls going on and the port listed while held.",
     .pulled_read_fails = true,
     .pulled_error = 5,
     .pulled_write_error = 5,
     .name_stays_while_held = true,
     .returns_as = 1},
    {.name = "open works while out, every call fails with 1",
     .source = "Wine's dlls/mountmgr.sys/device.c: create_port_device makes each port of Wine's "
               "port map a device object, \\Device\\SerialN, with a \\DosDevices\\COMn link and a "
               "SERIALCOMM value, once, at start; serial_driver_entry leaves its handlers unset "
               "(\"TODO: fill in driver->MajorFunction\"), so that dlls/ntoskrnl.exe's "
               "unhandled_irp fails every request on it with STATUS_INVALID_DEVICE_REQUEST, "
               "ERROR_INVALID_FUNCTION (1). Once the port's device file has gone, \\\\.\\COMn "
               "opens that object instead, as this program's Wine tests see.",
     .modelled = "The handle held at the pull: Wine gives ERROR_NOT_READY for its hung-up "
                 "terminal, which the Windows port takes as gone at once; here no error is "
                 "taken as gone, so that it is replayed as the object itself.",
     .pulled_read_fails = true,
     .pulled_error = 1,
     .pulled_write_error = 1,
     .pulled_state = 0,
     .name_stays = true,
     .opens_while_out = true},
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
    // The ports the system lists: "COM<n>" of each adapter in, and of those whose name stays,
    // for good or while a device on the pulled adapter is still held.
    std::vector<std::string> list() override {
        std::lock_guard lock(mutex_);
        std::vector<std::string> names;
        for (const auto& [n, a] : adapters_)
            if (listed(n, a))
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
            return driver_.pulled_write_error;
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
        return it != adapters_.end() && listed(port.number, it->second);
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

    // Under the lock.
    bool listed(int number, const Adapter& a) const {
        if (a.plugged || driver_.name_stays)
            return true;
        return driver_.name_stays_while_held &&
               std::any_of(devices_.begin(), devices_.end(),
                           [&](const auto& d) { return d.second.number == number; });
    }

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
