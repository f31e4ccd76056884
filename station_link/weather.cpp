#include "weather.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>

namespace weather {

namespace {

constexpr std::uint8_t carriage_return = 13;
constexpr std::uint8_t line_feed = 10;
constexpr std::int16_t miss_count_after_good = -6;
constexpr std::int16_t miss_count_top = 32767;

bool contains(const std::string& s, char c) {
    return s.find(c) != std::string::npos;
}

// A number that a reading can hold: finite and within the range of a float.
bool fits_float(double v) {
    return std::isfinite(v) && std::fabs(v) <= FLT_MAX;
}

double field_value(std::string& line) {
    return numeric_value(next_field(line, ','));
}

} // namespace

Link::Link(platform::SerialPort& port, platform::PortLister& lister)
    : port_(port), lister_(lister) {}

Link::~Link() {
    close_port();
}

bool Link::open_port(std::int16_t port) {
    select_port(port);
    state.com_handle = port_.open(port_id(port));
    return platform::is_open_handle(state.com_handle);
}

void Link::select_port(std::int16_t port) {
    state.com_port = port;
    state.temperature = 0;
    state.pressure = 0;
    state.humidity = 0;
    state.rx_line.clear();
    state.link_kind = 0;
    state.miss_count = miss_count_after_good;
    if (state.com_handle != platform::never_opened)
        close_port();
}

platform::PortId Link::port_id(std::int16_t port) const {
    return is_named(port) ? platform::PortId::named(port_name(port)) : platform::PortId(port);
}

void Link::close_port() {
    if (!platform::is_open_handle(state.com_handle))
        return;
    port_.close(state.com_handle);
    state.com_handle = platform::no_handle;
}

void Link::send_byte(std::uint8_t value) {
    port_.write_byte(state.com_handle, value);
}

void Link::poll_station() {
    send_byte(poll_byte);
    read_station();
}

void Link::read_station() {
    for (int budget = read_byte_budget; budget > 0; --budget) {
        const auto byte = port_.read_byte(state.com_handle);
        if (!byte) {
            if (state.miss_count < miss_count_top)
                ++state.miss_count;
            if (state.miss_count >= 0)
                state.link_kind = 0;
            return;
        }
        if (*byte < 10)
            continue; // control bytes never reach the line
        state.rx_line += static_cast<char>(*byte);
        if (state.rx_line.size() > rx_line_limit)
            state.rx_line.erase(0, state.rx_line.size() - rx_line_limit);
        if (*byte != carriage_return && *byte != line_feed)
            continue;
        if (contains(state.rx_line, '$') && contains(state.rx_line, '#')) {
            decode_hash();
            return;
        }
        if (contains(state.rx_line, '*') && contains(state.rx_line, '$')) {
            decode_star();
            return;
        }
    }
    // A device that streams without pause: hand the thread back; the bytes that follow stay
    // queued for the next read.
}

// "$#humidity,-,temperature C,-,pressure Pa"
void Link::decode_hash() {
    std::string& line = state.rx_line;
    next_field(line, '#');
    const double humidity = field_value(line);
    next_field(line, ',');
    const double temperature = field_value(line);
    next_field(line, ',');
    const double pressure = field_value(line) / 100;
    line.clear();
    store_reading(humidity, temperature, pressure, 2);
}

// "$-,temperature F,humidity,-,pressure inHg"
void Link::decode_star() {
    std::string& line = state.rx_line;
    next_field(line, '$');
    next_field(line, ',');
    const double temperature = (field_value(line) - 32) / 1.8;
    const double humidity = field_value(line);
    next_field(line, ',');
    const double pressure = field_value(line) * 33.8638;
    line.clear();
    store_reading(humidity, temperature, pressure, 3);
}

void Link::store_reading(double humidity, double temperature, double pressure, std::int16_t kind) {
    if (!fits_float(humidity) || !fits_float(temperature) || !fits_float(pressure))
        return; // a reading that no float can hold is dropped whole
    state.humidity = static_cast<float>(humidity);
    state.temperature = static_cast<float>(temperature);
    state.pressure = static_cast<float>(pressure);
    if (state.pressure > 0) {
        state.miss_count = miss_count_after_good;
        state.link_kind = kind;
    }
}

void Link::list_com_ports(std::vector<std::string>& ports) {
    for (auto& name : lister_.list())
        ports.push_back(std::move(name));
}

bool Link::port_lost() {
    return platform::is_open_handle(state.com_handle) && port_.lost(state.com_handle);
}

platform::AdapterIdentity Link::held_identity() const {
    return platform::is_open_handle(state.com_handle) ? port_.identity(state.com_handle)
                                                      : platform::AdapterIdentity{};
}

platform::AdapterIdentity Link::identity_at(std::int16_t port) {
    return port == 0 ? platform::AdapterIdentity{} : port_.identity_at(port_id(port));
}

std::int16_t Link::port_number(std::string_view listed_name) {
    // Only 1 to 999 can be COM device names; a name with any other number is opened by name,
    // and its number must not land on a named port's.
    if (const std::int16_t number = com_number(listed_name);
        number >= 1 && number <= platform::highest_port)
        return number;
    std::string name(listed_name);
    std::erase(name, '\0');
    if (name.empty())
        return 0;
    const auto index = std::size_t(std::find(named_ports_.begin(), named_ports_.end(), name) -
                                   named_ports_.begin());
    if (index == named_ports_.size()) {
        if (index > std::size_t(INT16_MAX - first_named_port))
            return 0; // no number left: no machine lists that many names
        named_ports_.push_back(std::move(name));
    }
    return static_cast<std::int16_t>(first_named_port + index);
}

bool Link::is_named(std::int16_t port) const {
    return port >= first_named_port && std::size_t(port - first_named_port) < named_ports_.size();
}

std::string Link::port_name(std::int16_t port) const {
    return is_named(port) ? named_ports_[std::size_t(port - first_named_port)]
                          : "COM" + std::to_string(port);
}

std::string next_field(std::string& text, char delimiter) {
    const auto p = text.find(delimiter);
    if (p == std::string::npos) {
        std::string all = std::move(text);
        text.clear();
        return all;
    }
    std::string head = text.substr(0, p);
    text.erase(0, p + 1);
    return head;
}

std::int16_t com_number(std::string_view name) {
    std::string rest(name.size() > 3 ? name.substr(3) : std::string_view{});
    std::erase(rest, '\0');
    return to_port_number(numeric_value(rest));
}

} // namespace weather
