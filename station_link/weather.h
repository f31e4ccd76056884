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

class Link {
public:
    Link(platform::SerialPort& port, platform::PortLister& lister);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    LinkState state;

    // Resets the reading, closes the port that was open and opens `port`. True when the
    // system gave a usable handle; the line settings cannot make it false.
    bool open_port(std::int16_t port);
    void close_port();
    void send_byte(std::uint8_t value);
    // Writes the poll byte, then reads the reply.
    void poll_station();
    // Reads until a sentence has been decoded or a read has missed.
    void read_station();
    // Appends the machine's serial ports to `ports`.
    void list_com_ports(std::vector<std::string>& ports);
    // True while the open port's device has gone (an adapter pulled out) and is looked for.
    bool port_lost() const;

private:
    void decode_hash();
    void decode_star();

    platform::SerialPort& port_;
    platform::PortLister& lister_;
};

// The part of `text` before the first `delimiter`, which is removed from `text` together with
// the delimiter; the whole of `text` (leaving it empty) when the delimiter does not occur.
std::string next_field(std::string& text, char delimiter);

// The port number of a listed port name: its number from the fourth character on; 0 when it
// holds none or one outside the 16-bit range.
std::int16_t com_number(std::string_view name);

} // namespace weather
