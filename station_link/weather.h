// The station link: the one serial port, the last reading decoded from the station and whether
// a station is answering. Everything runs on the user-interface thread; the state is plain data
// that the windows read, and write where noted.
#pragma once

#include "numeric_text.h"
#include "serial_port.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace weather {

struct LinkState {
    std::int16_t com_port = 0;                            // port last asked for; 0 = no port
    platform::Handle com_handle = platform::never_opened; // 0 never opened, -1 closed/failed
    float humidity = 0;                                   // percent
    float pressure = 0;          // millibar; 0 = no fresh reading (the display tick clears it)
    float temperature = 0;       // degrees Celsius
    std::int16_t link_kind = 0;  // 0 no station, 2 last good sentence hash, 3 star
    std::int16_t miss_count = 0; // reads without a byte since the last good sentence, from -6
    std::string rx_line;         // bytes received since the last decoded sentence
};

// Byte "D": the poll. Nothing else is ever sent to the station.
inline constexpr std::uint8_t poll_byte = 68;
// rx_line keeps at most this many of the latest characters.
inline constexpr std::size_t rx_line_limit = 4096;
// One read_station call reads at most this many bytes without a decoded sentence, about a
// second of a continuous stream at 9600 baud; the rest stays queued for the next read.
inline constexpr int read_byte_budget = 1024;
// Ports listed under a name without a number ("CNCA0", "BthModem2") get numbers from here up
// for the run. No COM device name has four digits, so these never stand for a COM port.
inline constexpr std::int16_t first_named_port = 1000;

class Link {
public:
    Link(platform::SerialPort& port, platform::PortLister& lister);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    LinkState state;

    // Resets the reading, closes the port that was open and opens `port` (by its name when it
    // is a named port). True when the system gave a usable handle; the line settings cannot
    // make it false.
    bool open_port(std::int16_t port);
    // What open_port does short of opening: `port` becomes the current port, the reading is
    // reset and the port that was open is closed. The port is then taken only when the user
    // chooses it or it is the station's adapter again.
    void select_port(std::int16_t port);
    void close_port();
    void send_byte(std::uint8_t value);
    // Writes the poll byte, then reads the reply.
    void poll_station();
    // Reads until a sentence has been decoded or a read has missed.
    void read_station();
    // Appends the machine's serial ports to `ports`.
    void list_com_ports(std::vector<std::string>& ports);
    // True while the open port's device has gone (an adapter pulled out) and is looked for.
    bool port_lost();
    // The adapter the open port was opened on, and the one at `port` now (without opening it);
    // empty for a port known by its name alone.
    platform::AdapterIdentity held_identity() const;
    platform::AdapterIdentity identity_at(std::int16_t port);

    // The port to open for a listed port name: com_number(name) when that is a COM number (1
    // to 999); otherwise the name's own number, from first_named_port up in the order names
    // are first seen here and the same for the rest of the run. A name is taken without its
    // NULs; an empty one is no port (0).
    std::int16_t port_number(std::string_view listed_name);
    // True when `port` is the number of a named port.
    bool is_named(std::int16_t port) const;
    // "COM<port>", or the name of a named port.
    std::string port_name(std::int16_t port) const;

private:
    platform::PortId port_id(std::int16_t port) const;
    void decode_hash();
    void decode_star();
    // Takes a decoded reading (converted to percent, degrees Celsius and millibar) into the
    // state; one with a pressure above 0 also marks the station as answering with sentences of
    // `kind`.
    void store_reading(double humidity, double temperature, double pressure, std::int16_t kind);

    platform::SerialPort& port_;
    platform::PortLister& lister_;
    std::vector<std::string> named_ports_; // element i has number first_named_port + i
};

// The part of `text` before the first `delimiter`, which is removed from `text` together with
// the delimiter; the whole of `text` (leaving it empty) when the delimiter does not occur.
std::string next_field(std::string& text, char delimiter);

// The port number of a listed port name: its number from the fourth character on; 0 when it
// holds none or one outside the 16-bit range.
std::int16_t com_number(std::string_view name);

} // namespace weather
