#include "replay.h"

#include "row.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace station_sim {

namespace {

// A logged figure: the whole field a finite number, "." as the decimal point.
std::optional<double> figure(const std::string& field) {
    double v = 0;
    const char* end = field.data() + field.size();
    const auto [stop, ec] = std::from_chars(field.data(), end, v);
    if (field.empty() || ec != std::errc{} || stop != end || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace

Replay::Replay(std::string_view text, double speed) : speed_(speed) {
    std::int64_t first = 0;
    std::int64_t last = 0;
    bool lost = false; // a "lost" row since the last reading
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        // A line cut short by a power failure counts only once it reaches the event column:
        // its readings, which come before, are whole then.
        const auto row = session_log::parse_row(line);
        if (!row)
            continue;
        const auto& [stamp, entry] = *row;
        if (!entry.event.empty()) {
            lost = lost || entry.event == "lost";
            continue;
        }
        const auto temperature = figure(entry.temperature);
        const auto pressure = figure(entry.pressure);
        const auto humidity = figure(entry.humidity);
        if (!temperature || !pressure || !humidity || (!readings_.empty() && stamp.utc < last))
            continue;
        if (readings_.empty())
            first = stamp.utc;
        const double now = double(stamp.utc - first);
        if (!readings_.empty()) {
            Recorded& before = readings_.back();
            // Its own second at least: stamps are whole seconds.
            before.until = lost || now - before.at > longest_pause ? before.at + 1 : now;
        }
        readings_.push_back({now,
                             std::numeric_limits<double>::infinity(),
                             {*humidity, *pressure, *temperature},
                             session_log::time_local(stamp)});
        last = stamp.utc;
        lost = false;
    }
    if (readings_.empty())
        throw ReplayError("no readings found");
}

Replay::Moment Replay::at(double elapsed) const {
    const double position = elapsed * speed_;
    const auto after = std::upper_bound(readings_.begin(), readings_.end(), position,
                                        [](double p, const Recorded& r) { return p < r.at; });
    const Recorded& last = after == readings_.begin() ? readings_.front() : *std::prev(after);
    return {&last, position >= last.until, after == readings_.end()};
}

Replay read_replay(const std::string& path, double speed) {
    std::FILE* opened = std::fopen(path.c_str(), "rb");
    if (!opened)
        throw ReplayError("cannot read " + path + ": " + std::strerror(errno));
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, std::fclose);
    std::string text;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        text.append(buffer, n);
    if (std::ferror(file.get()))
        throw ReplayError("cannot read " + path + ": " + std::strerror(errno));
    try {
        return Replay(text, speed);
    } catch (const ReplayError& e) {
        throw ReplayError(path + ": " + e.what() + "; --replay wants a log that the program wrote");
    }
}

} // namespace station_sim
