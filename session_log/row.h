// One line of the log: a moment in three columns (local time, its offset from UTC, UTC), then
// the reading as shown and the air figures, or an event. RFC 4180: comma, CRLF, quotes where a
// field needs them; "." is the decimal point whatever the locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace session_log {

inline constexpr const char* header =
    "time_local,utc_offset,time_utc,temperature_C,pressure_mb,humidity_pct,density_kg_m3,"
    "density_altitude_m,dew_point_C,vapour_pressure_mb,jet_original,jet_calculated,port,event,"
    "correction_factor,correction_standard";
inline constexpr int columns = 16;
// Logs of earlier versions end at the event.
inline constexpr int columns_at_least = 14;

// A moment: seconds since 1970 in UTC, and the local offset then, in minutes east.
struct Stamp {
    std::int64_t utc = 0;
    int offset_minutes = 0;
};

// The columns after the moment, as texts ("" where there is nothing to say).
struct Entry {
    std::string temperature, pressure, humidity;
    std::string density, density_altitude, dew_point, vapour_pressure;
    std::string jet_original, jet_calculated;
    std::string port;
    std::string event;
    std::string correction_factor, correction_standard;

    static Entry of_event(std::string event) {
        Entry e;
        e.event = std::move(event);
        return e;
    }
};

// "2026-12-10 09:14:02", "+01:00", "2026-12-10T08:14:02Z".
std::string time_local(const Stamp& stamp);
std::string utc_offset(const Stamp& stamp);
std::string time_utc(const Stamp& stamp);

// The fields as one CSV line, CRLF included.
std::string csv_line(const std::vector<std::string>& fields);
std::string csv_line(const Stamp& stamp, const Entry& entry);

// The fields of one line (without its line end); nothing when its quotes do not close.
std::optional<std::vector<std::string>> parse_csv_line(std::string_view line);
// A line of the log back as its moment and entry; nothing for a line that is not one (the
// header, or a line cut short by a power failure).
std::optional<std::pair<Stamp, Entry>> parse_row(std::string_view line);

} // namespace session_log
