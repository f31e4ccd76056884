#include "sentence.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using station_sim::Drift;
using station_sim::Format;
using station_sim::Reading;
using station_sim::sentence;

TEST(StationSimSentence, CarriesTheReadingInTheUnitsOfEachFormat) {
    struct Case {
        Format format;
        Reading reading; // humidity %, pressure mbar, temperature C
        const char* text;
    };
    const Case cases[] = {
        {Format::hash, {52.5, 1013.25, 23.4}, "$#52.5,1,23.4,2,101325"},
        {Format::hash, {0, 950.004, -12.25}, "$#0.0,1,-12.2,2,95000"},
        {Format::star, {40, 1013.2, 20}, "$1,68.0,40.0,2,29.920*"},
        {Format::star, {100, 980, -5.5}, "$1,22.1,100.0,2,28.939*"},
        // A value that rounds to zero is written without a sign.
        {Format::hash, {50, 1000, -0.04}, "$#50.0,1,0.0,2,100000"},
        {Format::star, {50, 1000, -17.79}, "$1,0.0,50.0,2,29.530*"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sentence(c.format, c.reading), c.text);
}

TEST(StationSimDrift, WandersInSmallStepsAndStaysNearItsCentreWithinPlausibleRanges) {
    const Reading centres[] = {{50, 1013.25, 20}, {97, 1000, -3}, {2, 2, 35}};
    for (const auto& centre : centres) {
        Drift drift(centre, 12345);
        Reading before = centre;
        Reading low = centre, high = centre;
        for (int i = 0; i < 100000; ++i) {
            const Reading r = drift.step();
            ASSERT_LE(std::fabs(r.humidity - before.humidity), Drift::step_size.humidity + 1e-9);
            ASSERT_LE(std::fabs(r.pressure - before.pressure), Drift::step_size.pressure + 1e-9);
            ASSERT_LE(std::fabs(r.temperature - before.temperature),
                      Drift::step_size.temperature + 1e-9);
            ASSERT_LE(std::fabs(r.humidity - centre.humidity), Drift::reach.humidity + 1e-9);
            ASSERT_LE(std::fabs(r.pressure - centre.pressure), Drift::reach.pressure + 1e-9);
            ASSERT_LE(std::fabs(r.temperature - centre.temperature),
                      Drift::reach.temperature + 1e-9);
            ASSERT_GE(r.humidity, 0);
            ASSERT_LE(r.humidity, 100);
            ASSERT_GE(r.pressure, 0);
            low = {std::fmin(low.humidity, r.humidity), std::fmin(low.pressure, r.pressure),
                   std::fmin(low.temperature, r.temperature)};
            high = {std::fmax(high.humidity, r.humidity), std::fmax(high.pressure, r.pressure),
                    std::fmax(high.temperature, r.temperature)};
            before = r;
        }
        // It does move: each value covers a good part of the room it has.
        EXPECT_GT(high.humidity - low.humidity, 2);
        EXPECT_GT(high.pressure - low.pressure, 1);
        EXPECT_GT(high.temperature - low.temperature, 1);
    }
}

} // namespace
