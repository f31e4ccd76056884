// The graph's drawing on known readings: round scales, a one-reading spike kept at every span,
// a gap where readings stopped, run marks, and what the pointer shows.
#include "plot.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace window_system;

namespace {

constexpr Colour red = rgb(255, 0, 0);
constexpr std::int64_t end = 1'800'000'000;

// A reading every second for the last day at 20 degrees, one reading of 30 half an hour before
// the end, nothing for 30 s from 10 minutes before the end, and run mark 1 at 5 minutes.
Plot day() {
    Plot p;
    p.series = {{"Temperature", "\u00B0C", 1, red}};
    for (std::int64_t t = end - 86400 + 1; t <= end; ++t)
        if (t < end - 600 || t >= end - 570)
            p.samples.push_back({t, {t == end - 1800 ? 30.0 : 20.0}});
    p.marks = {{end - 300, 1}};
    p.end = end;
    return p;
}

std::vector<Primitive> of_colour(const std::vector<Primitive>& all, Colour c) {
    std::vector<Primitive> some;
    std::copy_if(all.begin(), all.end(), std::back_inserter(some), [c](const Primitive& p) {
        return p.colour == c && p.kind == Primitive::Kind::line;
    });
    return some;
}

} // namespace

TEST(Plot, ScalesAreRound) {
    const struct {
        double low, high;
        std::vector<double> ticks;
    } cases[] = {{12.3, 18.9, {14, 16, 18}},
                 {1000.5, 1001.5, {1000.5, 1001, 1001.5}},
                 {-3, 3, {-2, 0, 2}},
                 {0, 100, {0, 50, 100}}};
    for (const auto& c : cases)
        EXPECT_EQ(round_ticks(c.low, c.high, 2), c.ticks) << c.low << ".." << c.high;
}

TEST(Plot, ASpikeShowsAtEverySpanAndGapsAndMarksAreDrawn) {
    const Canvas canvas{554, 200, 13, 7}; // the plot's columns: x 49 to 549
    for (const std::int64_t span : {3600, 4 * 3600, 86400}) {
        Plot p = day();
        p.span = span;
        const auto all = draw(p, canvas);
        const auto lines = of_colour(all, red);
        ASSERT_FALSE(lines.empty());
        // The highest point drawn is the spike's, in its own column.
        const auto top = std::min_element(lines.begin(), lines.end(), [](auto& a, auto& b) {
            return std::min(a.y1, a.y2) < std::min(b.y1, b.y2);
        });
        EXPECT_EQ(top->y1 <= top->y2 ? top->x1 : top->x2, 49 + int((span - 1800) * 500 / span))
            << "span " << span;
        // Nothing joins the readings across the 30 s without any.
        const int gap_from = 49 + int((span - 600) * 500 / span);
        const int gap_to = 49 + int((span - 570) * 500 / span);
        for (const auto& l : lines)
            if (gap_to - gap_from > 1) {
                EXPECT_FALSE(l.x1 <= gap_from && l.x2 >= gap_to) << "span " << span;
            }
        const auto marks = of_colour(all, mark_colour);
        ASSERT_EQ(marks.size(), 1u);
        EXPECT_EQ(marks[0].x1, 49 + int((span - 300) * 500 / span));
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](auto& t) { return t.text == "1"; }));
    }
}

TEST(Plot, ThePointerShowsTheNearestReadingOrNothingInAGap) {
    Plot p = day();
    const Canvas canvas{554, 200, 13, 7};
    p.point = ",";
    p.offset_at = [](std::int64_t) { return 60; };
    EXPECT_EQ(describe_at(p, canvas, 10), "");
    EXPECT_EQ(describe_at(p, canvas, 549), "09:00:00  Temperature 20,0 \u00B0C");
    EXPECT_EQ(describe_at(p, canvas, 49 + int(3015 * 500 / 3600)), ""); // 10 s from a reading
}
