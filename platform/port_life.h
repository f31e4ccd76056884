// A port's life: held, lost, looked for, back. One mechanism for every system, over the few
// calls that a serial device needs (the seam below), which the POSIX and Win32 ports implement
// and tests replace with what a driver is known to do.
#pragma once

#include "adapter_identity.h"
#include "serial_port.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

// The system calls behind one kind of serial device. Open and close may block for as long as
// a driver likes (a Bluetooth port, a device pulled out mid-transfer); they are called on a
// thread of their own and must not touch anything but the device. The rest are called on the
// caller's thread.
class SerialSystem {
public:
    using Device = std::intptr_t; // the system's descriptor or handle

    struct Read {
        enum class Kind { byte, timeout, failed };
        Kind kind = Kind::timeout;
        std::uint8_t byte = 0;
        long error = 0; // the system's error code of a failed read
    };

    virtual ~SerialSystem() = default;
    // Opens the device of `port` exclusively and sets its line up; nothing when the device does
    // not exist, is no serial device or is held by another program.
    virtual std::optional<Device> open(const PortId& port) = 0;
    // Gives the device back.
    virtual void close(Device device) = 0;
    // One byte, or a time-out after at most 10 ms, or a failure.
    virtual Read read(Device device) = 0;
    // Writes one byte, giving up after 110 ms: 0, or the error of a failed write. A write that
    // merely ran out of time is not a failure.
    virtual long write(Device device, std::uint8_t value) = 0;
    // The calls that tell of the device's state, one bit for each that worked now. Which of them
    // fail on a healthy device differs from driver to driver; one that has worked on a handle and
    // fails later is the sign that its device has gone.
    virtual unsigned line_state(Device device) = 0;
    // Whether the device of `port` is there now, without opening it.
    virtual bool present(const PortId& port) = 0;
    // Whether a failed read or write with `error` means that the device has gone for good.
    virtual bool gone(long error) const = 0;
    // The adapter behind `port` now, without opening it; empty for a port known by its name
    // alone.
    virtual AdapterIdentity identity(const PortId& port) = 0;
    // Whether the system has told that `device` is being removed (Windows tells an open
    // handle's window so); called on the caller's thread.
    virtual bool removed(Device) { return false; }
};

// A serial port over a SerialSystem. A device that goes away is let go at once, so that the
// system can give it its old name when it comes back (a handle still held makes some drivers
// number the returning adapter anew), and is opened again under the same handle when it is
// there again, at most once per retry interval, and only when it is the same adapter: another
// device that the system gives the old name is never opened on the program's own.
//
// A device counts as gone when the system says so (an error that only a gone device gives, a
// removal notice), when a state call that has worked on it fails twice in a row, when the system
// stops listing it, or when reads and writes that have worked fail twice in a row. A read that
// times out says nothing either way.
//
// Opens and closes run on a thread of their own, so that no call holds the caller for much
// longer than the open wait: an open that has not returned by then counts as failed, a close
// that has not returned after the close wait goes on by itself (the next open of its port waits
// for it within its own wait). Where no thread can be had, an open fails at once and a close is
// tried again later. A device that a late open returns is kept for a while, for the next open of
// the same port to take (a Bluetooth port that needs a few seconds to connect), and let go after
// that.
class LivePort : public SerialPort {
public:
    struct Timing {
        std::chrono::milliseconds read_timeout{10};
        std::chrono::milliseconds retry{1000};
        std::chrono::milliseconds open_wait{1000};
        std::chrono::milliseconds keep_late{10000};
        std::chrono::milliseconds close_wait{200};
    };

    explicit LivePort(std::shared_ptr<SerialSystem> system) : LivePort(std::move(system), {}) {}
    LivePort(std::shared_ptr<SerialSystem> system, Timing timing);
    ~LivePort() override;

    Handle open(const PortId& port) override;
    void close(Handle h) override;
    void write_byte(Handle h, std::uint8_t value) override;
    std::optional<std::uint8_t> read_byte(Handle h) override;
    bool lost(Handle h) override;
    AdapterIdentity identity(Handle h) const override;
    AdapterIdentity identity_at(const PortId& port) override;

    // The system's device behind open handle `h` while it is held.
    std::optional<SerialSystem::Device> device(Handle h) const;

private:
    using Clock = std::chrono::steady_clock;

    struct OpenPort {
        PortId port;
        AdapterIdentity identity; // the adapter it was opened on; empty: known by its name
        std::optional<SerialSystem::Device> device; // none while lost
        unsigned worked = 0; // the state calls that have worked on this device
        // For reads and for writes: whether one has worked on this device, and how many have
        // failed in a row since. Reads that time out count neither way.
        bool read_worked = false, write_worked = false;
        int read_failures = 0, write_failures = 0;
        Clock::time_point next_try; // while lost: the earliest time to look for it again
    };
    struct Job; // an open or close on its own thread

    std::optional<SerialSystem::Device> open_in_time(const PortId& port);
    // Lets go of the devices of late opens that nobody has taken in time, and forgets closes
    // that have ended.
    void sweep_late();
    // Gives `device` of `port` back on a thread of its own, waiting at most `wait` for it.
    void close_in_time(const PortId& port, SerialSystem::Device device,
                       std::chrono::milliseconds wait);
    // The state calls that work on p's device now, and whether the system lists it.
    unsigned state_now(const OpenPort& p);
    // Whether the device at p's port now may be opened on the program's own.
    bool same_device_there(const OpenPort& p);
    bool attach(OpenPort& p);
    void lose(OpenPort& p);
    // After a read or write that gave nothing (a failed write, a read that failed or timed
    // out): lets the device go when it shows that it has gone.
    enum class Call { read, write };
    void check(OpenPort& p, Call call, std::optional<long> error);
    OpenPort* find_present(Handle h);

    std::shared_ptr<SerialSystem> system_;
    Timing timing_;
    std::map<Handle, OpenPort> open_;
    // Opens that ran past their wait, by port: while one runs, its port is not tried again;
    // once it has ended, what it returned waits here for the next open of its port.
    std::map<PortId, std::shared_ptr<Job>> late_;
    // Closes still running, by port: the next open of the port waits for its close first.
    std::multimap<PortId, std::shared_ptr<Job>> closing_;
    // Devices whose close found no thread to run on: tried again at the next call.
    std::vector<std::pair<PortId, SerialSystem::Device>> unclosed_;
    Handle next_handle_ = 1;
};

} // namespace platform
