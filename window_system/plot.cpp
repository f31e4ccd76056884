#include "plot.h"

#include "desktop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace window_system {

namespace {

struct Layout {
    int left, right, axis; // the plot's left and right pixel columns, the time axis's row
    int strip_height;

    Layout(const Canvas& c, std::size_t strips)
        : left(c.char_width * 7), right(std::max(left + 1, c.width - 5)),
          axis(c.height - c.text_height - 4),
          strip_height(strips ? std::max(1, (axis - 2) / int(strips)) : 1) {}
    int width() const { return right - left + 1; }
    int top(std::size_t strip) const { return 2 + int(strip) * strip_height; }
    int bottom(std::size_t strip) const { return top(strip) + strip_height - 4; }
};

std::string pattern(int decimals) {
    return decimals > 0 ? "0." + std::string(std::size_t(decimals), '0') : "0";
}

std::string clock_text(std::int64_t local, bool seconds) {
    const std::int64_t in_day = ((local % 86400) + 86400) % 86400;
    char text[16];
    if (seconds)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(in_day / 3600),
                      int(in_day / 60 % 60), int(in_day % 60));
    else
        std::snprintf(text, sizeof text, "%02d:%02d", int(in_day / 3600), int(in_day / 60 % 60));
    return text;
}

Primitive line(int x1, int y1, int x2, int y2, Colour colour) {
    return {Primitive::Kind::line, x1, y1, x2, y2, colour, {}, false};
}

Primitive text(int x, int y, std::string s, Colour colour, bool right_aligned = false) {
    return {Primitive::Kind::text, x, y, x, y, colour, std::move(s), right_aligned};
}

// One series' strip: scale and caption, then the lowest and highest value of each column,
// joined to the column before unless the readings stopped for longer than the gap time.
void draw_strip(const Plot& plot, const Canvas& canvas, const Layout& layout, std::size_t i,
                std::vector<Primitive>& out) {
    const Series& series = plot.series[i];
    const int top = layout.top(i);
    const int bottom = layout.bottom(i);
    const int data_top = top + canvas.text_height + 2;
    const std::int64_t start = plot.end - plot.span;
    auto in_span = [&](const Sample& s) { return s.utc > start && s.utc <= plot.end; };

    std::optional<double> low, high, latest;
    for (const Sample& s : plot.samples)
        if (in_span(s) && i < s.values.size() && s.values[i]) {
            const double v = *s.values[i];
            low = std::min(low.value_or(v), v);
            high = std::max(high.value_or(v), v);
            latest = v;
        }
    out.push_back(line(layout.left, top, layout.left, bottom, axis_colour));
    out.push_back(line(layout.left, bottom, layout.right, bottom, axis_colour));
    const std::string unit = series.unit.empty() ? "" : " " + series.unit;
    out.push_back(text(
        layout.left + 4, top,
        series.caption +
            (latest
                 ? "  " + format_number(float(*latest), pattern(series.decimals), plot.point) + unit
                 : ""),
        series.colour));
    if (!low)
        return;

    const std::vector<double> ticks = round_ticks(*low, *high, 2);
    const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
    double scale_low = std::floor(*low / step + 1e-9) * step;
    double scale_high = std::ceil(*high / step - 1e-9) * step;
    if (scale_high - scale_low < 2 * step) { // a flat line runs through the middle
        scale_low = std::round((*low + *high) / 2 / step) * step - step;
        scale_high = scale_low + 2 * step;
    }
    auto y_of = [&](double v) {
        return bottom - int(std::lround((v - scale_low) / (scale_high - scale_low) *
                                        double(bottom - data_top)));
    };
    for (double tick = scale_low; tick <= scale_high + step / 2; tick += step) {
        const int y = y_of(tick);
        out.push_back(line(layout.left - 3, y, layout.left - 1, y, axis_colour));
        const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
        out.push_back(text(layout.left - 5, y - canvas.text_height / 2,
                           format_number(float(tick), pattern(decimals), plot.point), axis_colour,
                           true));
    }

    // The columns, in one pass over the readings.
    struct Column {
        int x = -1;
        double min = 0, max = 0, first = 0, last = 0;
        std::int64_t first_utc = 0, last_utc = 0;
    } now, before;
    auto flush = [&] {
        if (now.x < 0)
            return;
        if (before.x >= 0 && now.first_utc - before.last_utc <= plot.gap)
            out.push_back(line(before.x, y_of(before.last), now.x, y_of(now.first), series.colour));
        out.push_back(line(now.x, y_of(now.max), now.x, y_of(now.min), series.colour));
        before = now;
    };
    for (const Sample& s : plot.samples) {
        if (!in_span(s) || i >= s.values.size() || !s.values[i])
            continue;
        const double v = *s.values[i];
        const int x = layout.left + int((s.utc - start) * (layout.width() - 1) / plot.span);
        if (x != now.x) {
            flush();
            now = {x, v, v, v, v, s.utc, s.utc};
        } else {
            now.min = std::min(now.min, v);
            now.max = std::max(now.max, v);
            now.last = v;
            now.last_utc = s.utc;
        }
    }
    flush();
}

} // namespace

std::vector<double> round_ticks(double low, double high, int at_least) {
    if (!std::isfinite(low) || !std::isfinite(high) || high < low)
        return {};
    const double range = high > low ? high - low : std::max(std::abs(low) * 0.01, 0.1);
    const double rough = range / std::max(1, at_least);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (const double m : {5.0, 2.0, 1.0})
        if (m * power <= rough) {
            step = m * power;
            break;
        }
    std::vector<double> ticks;
    for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9 && ticks.size() < 100;
         t += step)
        ticks.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);
    if (ticks.size() < 2) {
        const double first = std::floor(low / step) * step;
        ticks = {first, first + step};
    }
    return ticks;
}

std::vector<Primitive> draw(const Plot& plot, const Canvas& canvas) {
    std::vector<Primitive> out;
    if (plot.span <= 0 || canvas.width <= 0 || canvas.height <= 0)
        return out;
    const Layout layout(canvas, plot.series.size());
    for (std::size_t i = 0; i < plot.series.size(); ++i)
        draw_strip(plot, canvas, layout, i, out);

    // The time axis: round local times.
    const std::int64_t start = plot.end - plot.span;
    const std::int64_t every = plot.span <= 3600 ? 600 : plot.span <= 4 * 3600 ? 1800 : 3 * 3600;
    const std::int64_t offset = std::int64_t(plot.offset_at(plot.end)) * 60;
    for (std::int64_t local = ((start + offset) / every + 1) * every; local - offset <= plot.end;
         local += every) {
        const int x =
            layout.left + int((local - offset - start) * (layout.width() - 1) / plot.span);
        out.push_back(line(x, layout.axis, x, layout.axis + 2, axis_colour));
        out.push_back(text(x - canvas.char_width * 5 / 2, layout.axis + 3, clock_text(local, false),
                           axis_colour));
    }
    for (const RunMark& mark : plot.marks) {
        if (mark.utc <= start || mark.utc > plot.end)
            continue;
        const int x = layout.left + int((mark.utc - start) * (layout.width() - 1) / plot.span);
        out.push_back(line(x, 2, x, layout.axis, mark_colour));
        // The number right of its line, or left of it where the edge is near.
        const std::string number = std::to_string(mark.number);
        const bool fits = x + 3 + canvas.char_width * int(number.size()) < canvas.width;
        out.push_back(text(fits ? x + 2 : x - 2, 2, number, mark_colour, !fits));
    }
    return out;
}

std::string describe_at(const Plot& plot, const Canvas& canvas, int x) {
    const Layout layout(canvas, plot.series.size());
    if (x < layout.left || x > layout.right || plot.samples.empty() || plot.span <= 0)
        return {};
    const std::int64_t start = plot.end - plot.span;
    const std::int64_t t =
        start + std::int64_t(x - layout.left) * plot.span / std::max(1, layout.width() - 1);
    const auto after =
        std::lower_bound(plot.samples.begin(), plot.samples.end(), t,
                         [](const Sample& s, std::int64_t at) { return s.utc < at; });
    auto nearest = after;
    if (after == plot.samples.end() ||
        (after != plot.samples.begin() && t - std::prev(after)->utc < after->utc - t))
        nearest = std::prev(after);
    const std::int64_t reach = std::max(plot.gap, plot.span / layout.width() + 1);
    if (std::llabs(nearest->utc - t) > reach || nearest->utc <= start)
        return {};
    std::string description = clock_text(nearest->utc + plot.offset_at(nearest->utc) * 60, true);
    for (std::size_t i = 0; i < plot.series.size() && i < nearest->values.size(); ++i)
        if (const auto& v = nearest->values[i]) {
            const Series& s = plot.series[i];
            description += "  " + s.caption + " " +
                           format_number(float(*v), pattern(s.decimals), plot.point) +
                           (s.unit.empty() ? "" : " " + s.unit);
        }
    return description;
}

} // namespace window_system
