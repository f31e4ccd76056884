// The serial port as the station link sees it: one handle per open port, one byte at a time.
#pragma once

#include "adapter_identity.h"

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Handle values follow the link's convention: 0 was never opened, -1 is closed or failed,
// anything else is an open port.
using Handle = std::intptr_t;
inline constexpr Handle never_opened = 0;
inline constexpr Handle no_handle = -1;

inline bool is_open_handle(Handle h) {
    return h != never_opened && h != no_handle;
}

// Port numbers run from 1 to 999; every other number has no device.
inline constexpr int highest_port = 999;

// Which device a port number or name stands for. Ports are opened by number ("COM3" is 3); a
// port that the system lists under a name without a number ("CNCA0") is opened by that name.
struct PortId {
    PortId(int number = 0) : number(number) {} // NOLINT: a number is a port
    static PortId named(std::string name) {
        PortId id;
        id.name = std::move(name);
        return id;
    }
    int number = 0;
    std::string name; // not empty: the port of this name, and the number is not used

    auto operator<=>(const PortId&) const = default;
};

// An open handle outlives its device: one that goes away (an adapter pulled out) is let go at
// once and looked for again under the same handle, with the same settings; meanwhile every read
// is a miss. Opening and closing never hold the caller for much more than a second.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Opens `port` exclusively for reading and writing, discards whatever is queued in either
    // direction and sets 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control, DTR and
    // RTS on. Returns an open handle, or no_handle when the device does not exist, is held by
    // another program, refuses access or does not answer the open in time. A device that
    // rejects the line settings still counts as open.
    virtual Handle open(const PortId& port) = 0;
    // Closes an open handle; does nothing for never_opened and no_handle.
    virtual void close(Handle h) = 0;
    // Writes one byte; gives up after 110 ms. Failure is not reported.
    virtual void write_byte(Handle h, std::uint8_t value) = 0;
    // One byte as soon as one is there, or nothing after 10 ms (also on a closed, failed or
    // hung-up port).
    virtual std::optional<std::uint8_t> read_byte(Handle h) = 0;
    // True while the device of open handle `h` has gone and is being looked for. A device that
    // the system has said is being removed is let go here.
    virtual bool lost(Handle) { return false; }
    // The adapter that open handle `h` was opened on; empty for a port known by its name alone.
    virtual AdapterIdentity identity(Handle) const { return {}; }
    // The adapter at `port` now, without opening it; empty for a port known by its name alone.
    virtual AdapterIdentity identity_at(const PortId&) { return {}; }
};

class PortLister {
public:
    virtual ~PortLister() = default;
    // The machine's serial ports in the system's order, each a name whose text from the
    // fourth character on starts with its port number ("COM3", "COM33 (ttyUSB0)"), or, for a
    // port that the system names without a number, that name ("CNCA0").
    virtual std::vector<std::string> list() = 0;
};

// The implementations for this system.
std::unique_ptr<SerialPort> make_serial_port();
std::unique_ptr<PortLister> make_port_lister();

} // namespace platform
