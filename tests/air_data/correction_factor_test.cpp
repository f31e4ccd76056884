// The dyno correction factors against published values, and the line the tooltips show.
#include "correction_factor.h"

#include <gtest/gtest.h>

using namespace air_data;

TEST(CorrectionFactor, MatchesPublishedValuesAndFlagsAirFarFromTheReference) {
    const struct {
        Air air;
        double j1349, j607, din, iso;
    } cases[] = {
        {{25, 990, 0}, 1.000, 1.040, 1.032, 1.000},
        {{20, 1013, 0}, 0.964, 1.008, 1.000, 0.963},
        {{15.6, 1013.25, 0}, 0.955, 1.000, 0.992, 0.954},
        {{30, 1000, 60}, 1.029, 1.065, 1.030, 1.030},
        {{5, 1020, 80}, 0.934, 0.982, 0.968, 0.933},
        {{35, 950, 40}, 1.101, 1.129, 1.094, 1.103},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.air.temperature << " C " << c.air.pressure << " mb");
        EXPECT_NEAR(*correction_factor(Standard::sae_j1349, c.air), c.j1349, 0.002);
        EXPECT_NEAR(*correction_factor(Standard::sae_j607, c.air), c.j607, 0.002);
        EXPECT_NEAR(*correction_factor(Standard::din_70020, c.air), c.din, 0.002);
        EXPECT_NEAR(*correction_factor(Standard::iso_1585, c.air), c.iso, 0.002);
    }
    EXPECT_EQ(describe_correction(Standard::sae_j607, {25, 990, 0}, ","),
              "SAE J607 (STD) correction factor 1,040 (reference 15.6 \u00b0C, 1013.2 mbar dry "
              "air)");
    EXPECT_EQ(describe_correction(Standard::sae_j1349, {35, 950, 40}),
              "SAE J1349 correction factor 1.101 (reference 25 \u00b0C, 990 mbar dry air) \u00b7 "
              "outside 0.93\u20131.07: give the test air with the result");
    EXPECT_EQ(describe_correction(Standard::none, {25, 990, 0}), "");
    EXPECT_EQ(describe_correction(Standard::din_70020, {25, 0, 0}), "");
}
