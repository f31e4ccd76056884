// The display tick every 2000 ms, and the jet size correction.
#include "window_fixture.h"

using namespace window_system;

namespace {

const char* const live_reading = "$#65.04,1,27.35,2,98527\r"; // shown as 65.0, 985.3, 27.4

} // namespace

class TickTest : public WindowTest {
protected:
    void SetUp() override {
        ports.add(1);    // silent until a test gives it a reply
        window().show(); // opens COM1 and polls it once
    }
    // The next tick, with `reply` as the station's answer to its poll.
    void tick(const std::string& reply = {}) {
        ports.devices[1].reply = reply;
        backend.advance(2000);
    }
    void expect_look(Colour back, Colour text) {
        for (const TextBox* box : {&f().txtHumidity, &f().txtPressure, &f().txtTemperature}) {
            EXPECT_EQ(box->back_colour(), back) << box->name();
            EXPECT_EQ(box->fore_colour(), text) << box->name();
        }
    }
    std::vector<std::string> readings() {
        return {f().txtHumidity.text(), f().txtPressure.text(), f().txtTemperature.text()};
    }
    main_window::frmNimbrel& f() { return window(); }
};

TEST_F(TickTest, AnsweredPollShowsGreenOnBlackAndClearsThePressure) {
    tick(live_reading);
    EXPECT_EQ(ports.devices[1].sent, "DD");
    EXPECT_EQ(readings(), (std::vector<std::string>{"65.0", "985.3", "27.4"}));
    expect_look(colours::black, colours::green);
    EXPECT_TRUE(connected_shown());
    EXPECT_EQ(f().txtCorr.text(), "147");
    EXPECT_EQ(link.state.pressure, 0);
}

TEST_F(TickTest, SilentTickIsGreyAndKeepsHumidityAndTemperature) {
    tick(live_reading);
    tick();
    EXPECT_EQ(readings(), (std::vector<std::string>{"65.0", "0.0", "27.4"}));
    expect_look(colours::grey, colours::black);
    EXPECT_TRUE(connected_shown());      // the station counts as present for five more misses
    EXPECT_EQ(f().txtCorr.text(), "98"); // 150 - 0.6 - 50 - 1.85 = 97.55
}

TEST_F(TickTest, IconTurnsToDisconnectedAtTheSixthMissNotTheFifth) {
    tick("$1,68,40,2,29.92*\r");
    EXPECT_EQ(readings(), (std::vector<std::string>{"40.0", "1013.2", "20.0"}));
    for (int miss = 1; miss <= 5; ++miss) {
        tick();
        EXPECT_TRUE(connected_shown()) << "miss " << miss;
    }
    tick();
    EXPECT_FALSE(connected_shown());
    tick("$#50,1,20,2,100000\r"); // back again
    EXPECT_TRUE(connected_shown());
    expect_look(colours::black, colours::green);
}

TEST_F(TickTest, OpeningAPortClearsTheReadingSoTheFirstIdleTickShowsZeros) {
    tick();
    EXPECT_EQ(readings(), (std::vector<std::string>{"0.0", "0.0", "0.0"}));
    expect_look(colours::grey, colours::black);
    EXPECT_FALSE(connected_shown());
}

TEST_F(TickTest, ZeroPressureIsShownIdle) {
    tick("$#55,1,21,2,0\r");
    EXPECT_EQ(readings(), (std::vector<std::string>{"55.0", "0.0", "21.0"}));
    expect_look(colours::grey, colours::black);
}

TEST_F(TickTest, AReplyThatStartsLateIsShownByTheNextTick) {
    ports.devices[1].late = true;
    tick(live_reading);
    EXPECT_EQ(readings(), (std::vector<std::string>{"0.0", "0.0", "0.0"}));
    tick();
    EXPECT_EQ(readings(), (std::vector<std::string>{"65.0", "985.3", "27.4"}));
    expect_look(colours::black, colours::green);
}

TEST_F(TickTest, WithNoPortTheTickLeavesTheBoxesToTheUser) {
    f().mncom[0].click();
    headless::Backend::type(f().txtHumidity, "42"); // after the "-" already there
    EXPECT_EQ(f().txtHumidity.text(), "-42");
    EXPECT_EQ(f().txtCorr.text(), "109"); // 150 + 3.68 - 50 + 5, at every keystroke
    ports.arrive(1, live_reading);        // the port is closed: nothing reaches the program
    tick();
    EXPECT_EQ(readings(), (std::vector<std::string>{"-42", "-", "-"}));
    EXPECT_EQ(f().txtCorr.text(), "109");
    expect_look(colours::grey, colours::green); // as laid out
    EXPECT_FALSE(connected_shown());
    f().txtJetSize.edited("200"); // a jet size change alone computes nothing
    EXPECT_EQ(f().txtCorr.text(), "109");
    f().txtPressure.edited("1000"); // a reading change does
    EXPECT_EQ(f().txtCorr.text(), "209");
}

TEST_F(TickTest, CommaLocaleShowsCommasAndComputesWithTheirDecimals) {
    backend.separator = ",";
    tick("$#50,1,20,2,101090\r"); // 1010.9 mb: the decimal is worth a whole size
    EXPECT_EQ(readings(), (std::vector<std::string>{"50,0", "1010,9", "20,0"}));
    EXPECT_EQ(f().txtCorr.text(), "151"); // 150.545, not 150.5 from 1010
    f().txtJetSize.edited("151,5");
    f().txtPressure.edited("1000,0");
    EXPECT_EQ(f().txtCorr.text(), "152");
}

TEST_F(WindowTest, JetCorrectionWorkedExamples) {
    const struct {
        const char *humidity, *pressure, *temperature, *jet, *corrected;
    } cases[] = {
        {"65.0", "985.3", "27.4", "150", "147"},
        {"40.0", "1013.2", "15.0", "120", "122"},
        {"50.0", "1010.0", "20.0", "150", "150"},
        {"50.0", "1010.0", "20.0", "151", "152"},
        {"50.0", "0.0", "20.0", "150", "100"},
        {"-", "-", "-", "150", "107"},
        {"50.0", "1000.0", "20.0", "150", "150"},
        {"50.0", "1000.0", "20.0", "150.5", "150"},
        {"50.0", "1000.0", "20.0", "151.5", "152"},
        {"50.0", "1000.0", "20.0", "151,5", "151"}, // "." locale: the comma ends the number
        {"50.0", "1000.0", "20.0", "jet", "0"},
        {"50.0", "1000.0", "22.0", "", "0"},  // -0.5: the even neighbour, without a sign
        {"50.0", "1000.0", "26.0", "", "-2"}, // -1.5
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.humidity) + " " + c.pressure + " " + c.temperature + " " +
                     c.jet);
        // The jet size first: only a reading's change computes.
        window().txtJetSize.edited(c.jet);
        window().txtHumidity.edited("x");
        window().txtHumidity.edited(c.humidity);
        window().txtPressure.edited(c.pressure);
        window().txtTemperature.edited(c.temperature);
        EXPECT_EQ(window().txtCorr.text(), c.corrected);
    }
    window().txtJetSize.edited("1e300"); // written in full, without an exponent
    window().txtPressure.edited("1000");
    EXPECT_EQ(window().txtCorr.text().size(), 301u);
    EXPECT_EQ(window().txtCorr.text().find_first_not_of("0123456789"), std::string::npos);
}

TEST_F(WindowTest, JetCorrectionKeepsItsLastResultWhenTheSumOverflows) {
    main_window::frmNimbrel& f = window();
    f.txtJetSize.edited("150");
    f.txtHumidity.edited("50");
    f.txtPressure.edited("1000");
    f.txtTemperature.edited("20");
    ASSERT_EQ(f.txtCorr.text(), "150");
    f.txtPressure.edited("1e309"); // beyond a double
    EXPECT_EQ(f.txtCorr.text(), "150");
    f.txtPressure.edited("1000");
    f.txtHumidity.edited("1e309");
    f.txtTemperature.edited("-1e309"); // infinity minus infinity
    EXPECT_EQ(f.txtCorr.text(), "150");
    f.txtHumidity.edited("50");
    f.txtTemperature.edited("21");
    ASSERT_EQ(f.txtCorr.text(), "150"); // 149.75
    f.txtJetSize.edited("1.7e308");
    f.txtTemperature.edited("-1.7e308"); // the correction fits, the jet does not
    EXPECT_EQ(f.txtCorr.text(), "150");
}

TEST_F(TickTest, TooltipsShowTheAirOfTheNumbersTheJetSizeComesFrom) {
    const std::string live =
        "Air density 1.132 kg/m\u00b3 (95.7 % of the reference air) \u00b7 Density altitude 818 m "
        "\u00b7 Dew point 20.2 \u00b0C \u00b7 Vapour pressure 23.7 mbar\nSAE J1349 correction "
        "factor 1.040 (reference 25 \u00b0C, 990 mbar dry air)";
    tick(live_reading);
    for (const TextBox* box :
         {&f().txtHumidity, &f().txtPressure, &f().txtTemperature, &f().txtCorr})
        EXPECT_EQ(box->tooltip(), live) << box->name();

    tick(); // idle: the pressure box reads 0.0
    EXPECT_EQ(f().txtCorr.tooltip(), "No air data: these readings do not describe air.");

    f().txtPressure.edited("985.3"); // typed numbers count as well
    EXPECT_EQ(f().txtHumidity.tooltip(), live);
    f().txtHumidity.edited("wet"); // no number: 0 %, dry air
    EXPECT_EQ(f().txtCorr.tooltip().rfind("Air density 1.142 kg/m\u00b3", 0), 0u)
        << f().txtCorr.tooltip();
    EXPECT_EQ(f().txtCorr.tooltip().find("Dew point"), std::string::npos);

    backend.separator = ",";
    tick(live_reading);
    EXPECT_EQ(f().txtCorr.tooltip(),
              "Air density 1,132 kg/m\u00b3 (95,7 % of the reference air) \u00b7 Density altitude "
              "818 m \u00b7 Dew point 20,2 \u00b0C \u00b7 Vapour pressure 23,7 mbar\nSAE J1349 "
              "correction factor 1,040 (reference 25 \u00b0C, 990 mbar dry air)");

    // Another standard, stored at the click; none leaves the line out.
    f().mnStd[2]->click();
    EXPECT_EQ(store->get("KORVANE_1", "correction", "standard", ""), "DIN 70020");
    EXPECT_TRUE(f().mnStd[2]->checked() && !f().mnStd[0]->checked());
    EXPECT_NE(f().txtCorr.tooltip().find("\nDIN 70020 correction factor 1,041 (reference 20 "),
              std::string::npos);
    f().mnStd[4]->click();
    EXPECT_EQ(f().txtCorr.tooltip().find('\n'), std::string::npos);
}
