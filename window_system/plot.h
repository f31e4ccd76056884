// What a graph of readings over time draws, worked out once for every toolkit: strips of one
// series each, stacked over a shared time axis, each with its own round scale and caption;
// each pixel column draws the lowest and highest reading that falls in it, so that no single
// reading is lost at any span; a gap wherever readings stop for longer than the gap time; run
// marks as vertical lines with their number. A backend only paints the primitives.
#pragma once

#include "units.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace window_system {

struct Primitive {
    enum class Kind { line, text };
    Kind kind = Kind::line;
    // A line from (x1, y1) to (x2, y2), both ends drawn; text with its top-left corner at
    // (x1, y1), or its top-right corner when `right_aligned`.
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    Colour colour = 0;
    std::string text;
    bool right_aligned = false;

    bool operator==(const Primitive&) const = default;
};

struct Series {
    std::string caption; // "Temperature"
    std::string unit;    // "°C"
    int decimals = 1;
    Colour colour = 0;
};

// The readings of one moment, a value per series; nothing where a series has none.
struct Sample {
    std::int64_t utc = 0;
    std::vector<std::optional<double>> values;
};

struct RunMark {
    std::int64_t utc = 0;
    int number = 0;
};

struct Plot {
    std::vector<Series> series;
    std::vector<Sample> samples; // oldest first
    std::vector<RunMark> marks;
    std::int64_t end = 0;     // the right edge: the newest moment, seconds since 1970 UTC
    std::int64_t span = 3600; // seconds from the left edge to the right one
    std::int64_t gap = 6;     // readings further apart than this are not joined
    // The local time zone's offset at a moment, in minutes east, for the time labels.
    std::function<int(std::int64_t)> offset_at = [](std::int64_t) { return 0; };
    // The decimal separator of the user's locale, for the values written out.
    std::string point = ".";
};

// The size the primitives are laid out in: the control's pixels and the height of a line of
// text in the backend's font.
struct Canvas {
    int width = 0;
    int height = 0;
    int text_height = 13;
    int char_width = 7;
};

inline constexpr Colour axis_colour = rgb(128, 128, 128);
inline constexpr Colour mark_colour = rgb(0, 0, 0);

std::vector<Primitive> draw(const Plot& plot, const Canvas& canvas);
// The moment and the values under the pointer at `x`: the sample nearest to it in time, when
// one lies within the column's time or the gap time; empty otherwise.
std::string describe_at(const Plot& plot, const Canvas& canvas, int x);
// The round values, at least `at_least` of them where the range allows, that a scale from
// `low` to `high` is marked at (steps of 1, 2 or 5 times a power of ten).
std::vector<double> round_ticks(double low, double high, int at_least);

} // namespace window_system
