#include "row.h"

#include <algorithm>
#include <cstdio>

namespace session_log {

namespace {

// Days since 1970-01-01 to a civil date, and back (proleptic Gregorian).
void civil_from_days(std::int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(std::int64_t(yoe) + era * 400 + (m <= 2));
}

std::int64_t days_from_civil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}

std::string date_time(std::int64_t seconds, char between) {
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t in_day = seconds - days * 86400;
    int y = 0;
    unsigned m = 0, d = 0;
    civil_from_days(days, y, m, d);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u%c%02d:%02d:%02d", y, m, d, between,
                  int(in_day / 3600), int(in_day / 60 % 60), int(in_day % 60));
    return text;
}

bool needs_quotes(const std::string& field) {
    return field.find_first_of(",\"\r\n") != std::string::npos;
}

// The digits of `text` from `at` on, `count` of them; -1 when one is not a digit.
int digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "2026-12-10T08:14:02Z" back to seconds; nothing for anything else.
std::optional<std::int64_t> parse_utc(std::string_view text) {
    const int y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2),
              h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (text.size() != 20 || text.substr(4, 1) != "-" || text.substr(7, 1) != "-" ||
        text[10] != 'T' || text[13] != ':' || text[16] != ':' || text[19] != 'Z' || y < 0 ||
        mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
        s > 60)
        return std::nullopt;
    return days_from_civil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + s;
}

std::optional<int> parse_offset(std::string_view text) {
    const int h = digits(text, 1, 2), m = digits(text, 4, 2);
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':' || h < 0 || m < 0)
        return std::nullopt;
    return (text[0] == '-' ? -1 : 1) * (h * 60 + m);
}

} // namespace

std::string time_local(const Stamp& stamp) {
    return date_time(stamp.utc + std::int64_t(stamp.offset_minutes) * 60, ' ');
}

std::string utc_offset(const Stamp& stamp) {
    const int minutes = stamp.offset_minutes < 0 ? -stamp.offset_minutes : stamp.offset_minutes;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", stamp.offset_minutes < 0 ? '-' : '+',
                  minutes / 60, minutes % 60);
    return text;
}

std::string time_utc(const Stamp& stamp) {
    return date_time(stamp.utc, 'T') + "Z";
}

std::string csv_line(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += ',';
        if (!needs_quotes(fields[i])) {
            line += fields[i];
            continue;
        }
        line += '"';
        for (const char c : fields[i])
            line += c == '"' ? std::string("\"\"") : std::string(1, c);
        line += '"';
    }
    return line + "\r\n";
}

std::string csv_line(const Stamp& stamp, const Entry& e) {
    return csv_line({time_local(stamp), utc_offset(stamp), time_utc(stamp), e.temperature,
                     e.pressure, e.humidity, e.density, e.density_altitude, e.dew_point,
                     e.vapour_pressure, e.jet_original, e.jet_calculated, e.port, e.event,
                     e.correction_factor, e.correction_standard});
}

std::optional<std::vector<std::string>> parse_csv_line(std::string_view line) {
    std::vector<std::string> fields(1);
    fields.reserve(columns);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"')
                fields.back() += c;
            else if (i + 1 < line.size() && line[i + 1] == '"')
                fields.back() += line[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted)
        return std::nullopt;
    return fields;
}

std::optional<std::pair<Stamp, Entry>> parse_row(std::string_view line) {
    auto fields = parse_csv_line(line);
    if (!fields || fields->size() < columns_at_least)
        return std::nullopt;
    fields->resize(std::max<std::size_t>(fields->size(), columns));
    auto& f = *fields;
    const auto utc = parse_utc(f[2]);
    const auto offset = parse_offset(f[1]);
    if (!utc || !offset)
        return std::nullopt;
    Entry e{std::move(f[3]),  std::move(f[4]),  std::move(f[5]),  std::move(f[6]),
            std::move(f[7]),  std::move(f[8]),  std::move(f[9]),  std::move(f[10]),
            std::move(f[11]), std::move(f[12]), std::move(f[13]), std::move(f[14]),
            std::move(f[15])};
    return std::pair{Stamp{*utc, *offset}, std::move(e)};
}

} // namespace session_log
