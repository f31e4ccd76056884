// The engine in use, from the settings, on a window with a scripted station and a manual
// clock: its jet for the reference air at start, its baseline in the tooltip, the re-jet
// alert over a warming and a cooling day, and the Engines and Set Baseline dialogs.
#include "frmBaseline.h"
#include "frmEngines.h"
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
    std::string engines(const std::string& key) {
        return store->get("KORVANE_1", "engines", key, "<missing>");
    }
    // Opens the Engines dialog from the menu and runs `script` on it.
    void in_engines(const std::function<void(engines_window::frmEngines&)>& script) {
        backend.on_modal = [&](Form& f) { script(dynamic_cast<engines_window::frmEngines&>(f)); };
        window().mnEngines.click();
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

TEST_F(EngineTest, SetBaselineTakesTheTypedJetAndTheLastLiveReading) {
    window().mnShowJet.click(); // hidden: setting a baseline shows the jet fields
    EXPECT_FALSE(window().mnBaseline.enabled()) << "no live reading yet";
    backend.advance(2000);
    ports.devices[1].reply.clear(); // idle ticks show 0.0, which a baseline never takes
    backend.advance(4000);
    ASSERT_TRUE(window().mnBaseline.enabled());
    backend.on_modal = [](Form& f) {
        auto& dialog = dynamic_cast<engines_window::frmBaseline&>(f);
        EXPECT_EQ(dialog.txtJet.text(), "130"); // the engine's
        dialog.txtJet.edited("x");
        dialog.cmdOK.click(); // refused: stays open
        dialog.txtJet.edited("130");
        dialog.cmdOK.click();
    };
    window().mnBaseline.click();
    // 130 right at 20.0 C, 1000.0 mb, 50 %: the reference air's jet is 130 itself.
    EXPECT_EQ(window().txtJetSize.text(), "130.0");
    EXPECT_TRUE(window().mnShowJet.checked());
    EXPECT_EQ(engines("engine1_baseline_temperature"), "20");
    EXPECT_EQ(engines("engine1_baseline_jet"), "130");
    // Warming from 20 to 30 C: the alert fires once, within three readings of 28 C.
    std::vector<double> warming;
    for (int half = 40; half <= 60; ++half)
        warming.push_back(half / 2.0);
    EXPECT_EQ(day(warming), std::vector<std::string>{"amber at 29.0"});
    EXPECT_NE(window().txtCorr.tooltip().find("Re-jet: 128 (in the engine 130, step 2)"),
              std::string::npos);
    // Cooling clears it once, under 24 C; five minutes wavering 0.2 C around 28 C fire once.
    EXPECT_EQ(day({24, 23.5, 23, 22.5, 22}), std::vector<std::string>{"grey at 22.5"});
    std::vector<double> wavering;
    for (int i = 0; i < 150; ++i)
        wavering.push_back(i / 3 % 2 ? 28.2 : 27.8);
    EXPECT_EQ(day(wavering), std::vector<std::string>{"amber at 28.2"});
}

TEST_F(EngineTest, TheEnginesDialogAddsChoosesDeletesAndCancels) {
    in_engines([](engines_window::frmEngines& d) {
        d.cmdAdd.click();
        d.txtName.edited("CR250");
        d.txtJet.edited("172");
        d.txtStep.edited("3");
        d.cmdOK.click(); // refused: stays open and says why
        EXPECT_EQ(d.lblStatus.caption(), "The jet step must be 0.5, 1, 2, 2.5 or 5.");
        d.txtStep.edited("2.5");
        d.cmdUse.click();
        d.cmdOK.click();
    });
    EXPECT_EQ(window().txtJetSize.text(), "172.0"); // no baseline: the jet in it
    EXPECT_EQ(engines("in_use"), "2");
    EXPECT_EQ(engines("engine2_step"), "2.5");
    // Deleting the engine before the one in use keeps that one in use; Escape drops it all.
    in_engines([](engines_window::frmEngines& d) {
        d.cmdPrevious.click();
        d.cmdDelete.click();
        d.key_down(key_escape, 0);
    });
    EXPECT_EQ(engines("count"), "2");
    in_engines([](engines_window::frmEngines& d) {
        d.cmdPrevious.click();
        d.cmdDelete.click();
        EXPECT_EQ(d.lblEngine.caption(), "Engine 1 of 1, in use");
        d.cmdOK.click();
    });
    EXPECT_EQ(engines("count"), "1");
    EXPECT_EQ(engines("engine1_name"), "CR250");
    EXPECT_EQ(engines("in_use"), "1");
}

TEST_F(EngineTest, FittedTakesTheSuggestedJetAndClearsTheAlert) {
    day({37, 38, 39});
    ASSERT_EQ(window().txtCorr.back_colour(), rgb(255, 192, 0));
    in_engines([](engines_window::frmEngines& d) {
        d.cmdFitted.click();
        EXPECT_EQ(d.txtJet.text(), "128");
        d.cmdOK.click();
    });
    EXPECT_EQ(window().txtCorr.back_colour(), colours::light_grey);
    EXPECT_EQ(engines("engine1_jet"), "128");
    EXPECT_EQ(engines("engine1_baseline_jet"), "130"); // the baseline stays
    EXPECT_EQ(session_log::read_since(log_dir, 0).back().second.event, "re-jet cleared");
    EXPECT_EQ(day({39, 39, 39, 39}), std::vector<std::string>{}); // 128 is right now
}

TEST_F(WindowTest, TheEnginesDialogRefusesFieldsThatAreNotAnEngine) {
    engines::Garage garage;
    garage.engines.push_back({"KX125", 130, 2, std::nullopt, ""});
    const struct {
        TextBox& (*box)(engines_window::frmEngines&);
        const char* text;
        const char* says; // empty: taken
    } cases[] = {
        {[](auto& d) -> TextBox& { return d.txtName; }, " ", "Give the engine a name."},
        {[](auto& d) -> TextBox& { return d.txtJet; }, "0", "The jet in the engine must be"},
        {[](auto& d) -> TextBox& { return d.txtJet; }, "12x", "The jet in the engine must be"},
        {[](auto& d) -> TextBox& { return d.txtJet; }, "127.5", ""},
        {[](auto& d) -> TextBox& { return d.txtStep; }, "2.5", ""},
        {[](auto& d) -> TextBox& { return d.txtBaselineJet; }, "-1", "The baseline jet must be"},
        {[](auto& d) -> TextBox& { return d.txtBaselineJet; }, "130", "The baseline's air"},
    };
    for (const auto& c : cases) {
        engines_window::frmEngines d(desktop, garage, nullptr);
        d.show();
        c.box(d).edited(c.text);
        d.cmdOK.click();
        EXPECT_EQ(d.result.has_value(), !*c.says) << c.text;
        EXPECT_EQ(d.lblStatus.caption().rfind(c.says, 0), 0u) << d.lblStatus.caption();
    }
}
