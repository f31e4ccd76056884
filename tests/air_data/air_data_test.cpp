// The air figures against published reference values.
#include "air_data.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace air_data;

// ICAO standard atmosphere (ICAO Doc 7488): temperature, pressure and density of dry air by
// altitude; its density altitude is the altitude itself.
TEST(AirData, StandardAtmosphereGivesItsOwnAltitude) {
    struct Level {
        double metres, temperature, pressure, density;
    };
    const Level levels[] = {
        {0, 15.0, 1013.25, 1.2250},
        {1000, 8.5, 898.76, 1.1117},
        {2000, 2.0, 795.01, 1.0066},
        {3000, -4.5, 701.21, 0.9093},
    };
    for (const auto& l : levels) {
        const Air air{l.temperature, l.pressure, 0};
        SCOPED_TRACE(l.metres);
        EXPECT_NEAR(*density(air), l.density, 0.0001);
        EXPECT_NEAR(*density_altitude(air), l.metres, 3.0);
    }
    EXPECT_NEAR(*density_altitude({15, 1013.25, 0}), 0, 1.0);
    EXPECT_NEAR(*density_vs_standard({15, 1013.25, 0}), 1.0, 0.0001);
}

// Saturation vapour pressure over liquid water, CRC Handbook of Chemistry and Physics
// ("Vapor pressure of water"), in mbar.
TEST(AirData, SaturationVapourPressureMatchesTheTable) {
    const std::pair<double, double> table[] = {
        {0, 6.1129}, {10, 12.282}, {20, 23.392}, {30, 42.467}, {40, 73.844}};
    for (const auto& [t, want] : table)
        EXPECT_NEAR(*saturation_vapour_pressure(t), want, want * 0.001) << t;
    EXPECT_NEAR(*vapour_pressure({20, 1000, 50}), 23.392 / 2, 0.02);
    EXPECT_NEAR(*dry_air_pressure({20, 1000, 50}), 1000 - 23.392 / 2, 0.02);
}

// Dew points as the usual meteorological tables give them (to 0.1 degree).
TEST(AirData, DewPointMatchesTheTable) {
    struct Case {
        double temperature, humidity, dew_point;
    };
    const Case cases[] = {
        {20, 50, 9.3}, {30, 80, 26.2}, {25, 60, 16.7}, {10, 90, 8.4}, {15, 100, 15.0}};
    for (const auto& c : cases)
        EXPECT_NEAR(*dew_point({c.temperature, 1000, c.humidity}), c.dew_point, 0.06)
            << c.temperature << " " << c.humidity;
}

TEST(AirData, TheReferenceAirIsOneHundredPercent) {
    EXPECT_DOUBLE_EQ(*density_vs_reference(reference_air), 1.0);
    // Warm, humid, low air is thinner: the figures of a summer day at the track.
    const Air summer{27.4, 985.3, 65};
    EXPECT_NEAR(*density(summer), 1.132, 0.0005);
    EXPECT_NEAR(*density_vs_reference(summer), 0.957, 0.0005);
    EXPECT_NEAR(*density_altitude(summer), 818, 0.5);
    EXPECT_NEAR(*dew_point(summer), 20.2, 0.05);
    EXPECT_NEAR(*vapour_pressure(summer), 23.7, 0.05);
}

TEST(AirData, InputThatDescribesNoAirGivesNoFigure) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Air bad[] = {
        {20, 1000, -0.1}, {20, 1000, 100.1}, {-273.15, 1000, 50}, {-300, 1000, 50},
        {20, 0, 50},      {20, -5, 50},      {inf, 1000, 50},     {20, nan, 50},
        {20, 1000, inf},  {90, 10, 100}, // more vapour than the whole pressure
    };
    for (const auto& a : bad) {
        SCOPED_TRACE(testing::Message() << a.temperature << " " << a.pressure << " " << a.humidity);
        EXPECT_FALSE(density(a));
        EXPECT_FALSE(density_altitude(a));
        EXPECT_FALSE(density_vs_reference(a));
    }
    EXPECT_FALSE(dew_point({20, 1000, 0})); // dry air has no dew point
    EXPECT_TRUE(density({20, 1000, 0}));
    EXPECT_FALSE(saturation_vapour_pressure(-273.15));
    EXPECT_FALSE(saturation_vapour_pressure(nan));
    EXPECT_FALSE(dew_point({-243.04, 1000, 50})); // the formula's pole
}

TEST(AirData, DescribesTheAirInOneLine) {
    EXPECT_EQ(describe({27.4, 985.3, 65}),
              "Air density 1.132 kg/m\u00b3 (95.7 % of the reference air) \u00b7 Density altitude "
              "818 m \u00b7 Dew point 20.2 \u00b0C \u00b7 Vapour pressure 23.7 mbar");
    EXPECT_EQ(describe({27.4, 985.3, 65}, ","),
              "Air density 1,132 kg/m\u00b3 (95,7 % of the reference air) \u00b7 Density altitude "
              "818 m \u00b7 Dew point 20,2 \u00b0C \u00b7 Vapour pressure 23,7 mbar");
    // Dry air: no dew point, everything else.
    EXPECT_EQ(describe({15, 1013.25, 0}),
              "Air density 1.225 kg/m\u00b3 (103.5 % of the reference air) \u00b7 Density altitude "
              "0 m \u00b7 Vapour pressure 0.0 mbar");
    // An idle tick shows pressure 0: no figures at all.
    EXPECT_EQ(describe({20, 0, 50}), "No air data: these readings do not describe air.");
}
