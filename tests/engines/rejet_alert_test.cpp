// The re-jet alert on the air of a day: 130 right at 20 °C in steps of 2, with the jet
// correction's own temperature term (a quarter of a size per degree).
#include "rejet_alert.h"

#include <gtest/gtest.h>
#include <vector>

using engines::RejetAlert;

namespace {

double called_for(double temperature) {
    return 130 - 0.25 * (temperature - 20);
}

// The changes over `temperatures`, as "fired 128 at 28.2" or "cleared at 23.8".
std::vector<std::string> changes(RejetAlert& alert, const std::vector<double>& temperatures) {
    std::vector<std::string> seen;
    for (const double t : temperatures)
        if (const auto change = alert.reading(called_for(t), 130, 2)) {
            char at[16];
            std::snprintf(at, sizeof at, "%.1f", t);
            seen.push_back(change->fired
                               ? "fired " + std::to_string(int(change->suggested)) + " at " + at
                               : std::string("cleared at ") + at);
        }
    return seen;
}

// From `from` to `to` in tenths of a degree.
std::vector<double> ramp(int from_tenths, int to_tenths) {
    std::vector<double> values;
    const int by = to_tenths > from_tenths ? 1 : -1;
    for (int t = from_tenths; t != to_tenths + by; t += by)
        values.push_back(t / 10.0);
    return values;
}

} // namespace

TEST(RejetAlert, FiresOnceWhenTheAirMovesAStepAndClearsOnceWhenItComesBack) {
    RejetAlert alert;
    EXPECT_EQ(changes(alert, ramp(200, 300)), std::vector<std::string>{"fired 128 at 28.2"});
    EXPECT_EQ(changes(alert, ramp(300, 200)), std::vector<std::string>{"cleared at 23.7"});
    EXPECT_EQ(changes(alert, ramp(200, 300)).size(), 1u);
    alert.reset(); // a new baseline or a jet fitted
    EXPECT_FALSE(alert.on());

    // Five minutes of air wavering 0.2 degrees around the threshold fire once, and that is all.
    std::vector<double> wavering;
    for (int i = 0; i < 150; ++i)
        wavering.push_back(i / 3 % 2 ? 27.8 : 28.2);
    EXPECT_EQ(changes(alert, wavering), std::vector<std::string>{"fired 128 at 28.2"});

    EXPECT_EQ(RejetAlert::describe(128, 130, 2),
              "Re-jet: 128 (in the engine 130, step 2)\nOne step either side: 126 and 130");
    EXPECT_EQ(RejetAlert::describe(127.5, 130, 2.5),
              "Re-jet: 127.5 (in the engine 130, step 2.5)\nOne step either side: 125 and 130");
}
