// The engine in use, from the settings, on a window with a scripted station and a manual
// clock: its jet for the reference air at start, its baseline in the tooltip, and the re-jet
// alert over a warming and a cooling day.
#include "reader.h"
#include "window_fixture.h"

#include <cstdio>

using namespace window_system;

namespace {

// The station's sentence for `temperature` at 50 % and 1000.0 mb.
std::string sentence(double temperature) {
    char text[64];
    std::snprintf(text, sizeof text, "$#50,1,%.1f,2,100000\r", temperature);
    return text;
}

} // namespace

class EngineTest : public WindowTest {
protected:
    void SetUp() override {
        ports.add(1, sentence(20));
        for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
                 {"count", "1"},
                 {"in_use", "1"},
                 {"engine1_name", "KX125"},
                 {"engine1_jet", "130"},
                 {"engine1_step", "2"},
                 {"engine1_baseline_jet", "130"},
                 {"engine1_baseline_temperature", "28"},
                 {"engine1_baseline_pressure", "990"},
                 {"engine1_baseline_humidity", "40"},
                 {"engine1_baseline_when", "2026-12-10 09:14 (+01:00)"}})
            store->save("KORVANE_1", "engines", key, value);
        start();
    }
    // Ticks through `temperatures`, one fresh reading each; the changes of txtCorr's colour.
    std::vector<std::string> day(const std::vector<double>& temperatures) {
        std::vector<std::string> seen;
        for (const double t : temperatures) {
            ports.devices[1].reply = sentence(t);
            const auto before = window().txtCorr.back_colour();
            backend.advance(2000);
            if (window().txtCorr.back_colour() != before)
                seen.push_back((window().txtCorr.back_colour() == rgb(255, 192, 0) ? "amber at "
                                                                                   : "grey at ") +
                               window().txtTemperature.text());
        }
        return seen;
    }
};

TEST_F(EngineTest, TheBaselineSetsTheJetAndTheAlertFiresAndClearsOnce) {
    EXPECT_EQ(window().txtJetSize.text(), "132.1"); // 130 right at 28 C, 990 mb, 40 %
    // At 1000 mb and 50 %, 130 is right near 28 C: a step off below 20 C and above 36 C. One
    // reading a step off does not fire; three in a row do, once.
    std::vector<double> warming;
    for (int t = 20; t <= 40; ++t)
        warming.push_back(t);
    EXPECT_EQ(day(warming), std::vector<std::string>{"amber at 39.0"});
    EXPECT_NE(window().txtCorr.tooltip().find("Re-jet: 128 (in the engine 130, step 2)"),
              std::string::npos);
    const session_log::Rows rows = session_log::read_since(log_dir, 0);
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                            [](const auto& row) { return row.second.event == "re-jet 128"; }));
    // Warmer air than the baseline's: a higher density altitude.
    EXPECT_EQ(
        window().txtJetSize.tooltip().rfind(
            "KX125: 130 right at 28.0 \u00b0C, 990.0 mb, 40.0 % on 2026-12-10 09:14 (+01:00); "
            "density altitude since +",
            0),
        0u)
        << window().txtJetSize.tooltip();
    ports.devices[1].reply.clear(); // a silent station neither fires nor clears
    backend.advance(20000);
    EXPECT_EQ(window().txtCorr.back_colour(), rgb(255, 192, 0));
    std::vector<double> back_to_baseline(3, 28);
    EXPECT_EQ(day(back_to_baseline), std::vector<std::string>{"grey at 28.0"});
}
