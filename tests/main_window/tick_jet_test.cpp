// The display tick against a station on a pseudo-terminal, and the jet size correction.
#include "pictures.h"
#include "window_fixture.h"

#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

namespace {

const QColor black(0, 0, 0), green(0, 255, 0), grey(128, 128, 128);

struct Look {
    QColor back, text;
};
Look look_of(const QLineEdit* box) {
    return {box->palette().color(QPalette::Base), box->palette().color(QPalette::Text)};
}

} // namespace

class TickTest : public WindowTest {
protected:
    void SetUp() override {
        window().Form_Load(); // opens COM1 and polls it once, before anything is sent
        com1.read_available(200);
    }
    void expect_look(const QColor& back, const QColor& text) {
        for (QLineEdit* box : {f().txtHumidity, f().txtPressure, f().txtTemperature}) {
            EXPECT_EQ(look_of(box).back, back) << box->objectName().toStdString();
            EXPECT_EQ(look_of(box).text, text) << box->objectName().toStdString();
        }
    }
    QStringList readings() {
        return {f().txtHumidity->text(), f().txtPressure->text(), f().txtTemperature->text()};
    }
    bool connected_shown() {
        const bool icon = shows_picture(f().windowIcon(), main_window::connected_xpm);
        EXPECT_EQ(icon, !f().imgConectado->isHidden());
        EXPECT_EQ(icon, f().imgDesconectado->isHidden());
        EXPECT_EQ(icon || shows_picture(f().windowIcon(), main_window::disconnected_xpm), true);
        return icon;
    }
    main_window::frmNimbrel& f() { return window(); }

    test_support::PtyPair& com1 = station(1);
};

TEST_F(TickTest, AnsweredPollShowsGreenOnBlackAndClearsThePressure) {
    com1.write("$#65.04,1,27.35,2,98527\r");
    f().Timer1_Timer();
    EXPECT_EQ(com1.read_available(200), "D");
    EXPECT_EQ(readings(), QStringList({"65.0", "985.3", "27.4"}));
    expect_look(black, green);
    EXPECT_TRUE(connected_shown());
    EXPECT_EQ(f().txtCorr->text(), "147");
    EXPECT_EQ(link.state.pressure, 0);
}

TEST_F(TickTest, SilentTickIsGreyAndKeepsHumidityAndTemperature) {
    com1.write("$#65.04,1,27.35,2,98527\r");
    f().Timer1_Timer();
    f().Timer1_Timer(); // nothing answers
    EXPECT_EQ(readings(), QStringList({"65.0", "0.0", "27.4"}));
    expect_look(grey, black);
    EXPECT_TRUE(connected_shown());       // the station counts as present for five more misses
    EXPECT_EQ(f().txtCorr->text(), "98"); // 150 - 0.6 - 50 - 1.85 = 97.55
}

TEST_F(TickTest, IconTurnsToDisconnectedAtTheSixthMissNotTheFifth) {
    com1.write("$1,68,40,2,29.92*\r");
    f().Timer1_Timer();
    EXPECT_EQ(readings(), QStringList({"40.0", "1013.2", "20.0"}));
    for (int miss = 1; miss <= 5; ++miss) {
        f().Timer1_Timer();
        EXPECT_TRUE(connected_shown()) << "miss " << miss;
    }
    f().Timer1_Timer();
    EXPECT_FALSE(connected_shown());
    com1.write("$#50,1,20,2,100000\r"); // back again
    f().Timer1_Timer();
    EXPECT_TRUE(connected_shown());
    expect_look(black, green);
}

TEST_F(TickTest, OpeningAPortClearsTheReadingSoTheFirstIdleTickShowsZeros) {
    f().Timer1_Timer();
    EXPECT_EQ(readings(), QStringList({"0.0", "0.0", "0.0"}));
    expect_look(grey, black);
    EXPECT_FALSE(connected_shown());
}

TEST_F(TickTest, ZeroPressureIsShownIdle) {
    com1.write("$#55,1,21,2,0\r");
    f().Timer1_Timer();
    EXPECT_EQ(readings(), QStringList({"55.0", "0.0", "21.0"}));
    expect_look(grey, black);
}

TEST_F(TickTest, WithNoPortTheTickLeavesTheBoxesToTheUser) {
    f().mncom_Click(0);
    QTest::keyClicks(f().txtHumidity, "42"); // after the "-" already there
    EXPECT_EQ(f().txtHumidity->text(), "-42");
    EXPECT_EQ(f().txtCorr->text(), "109");   // 150 + 3.68 - 50 + 5, at every keystroke
    com1.write("$#65.04,1,27.35,2,98527\r"); // the port is closed: nothing reaches the program
    f().Timer1_Timer();
    EXPECT_EQ(readings(), QStringList({"-42", "-", "-"}));
    EXPECT_EQ(f().txtCorr->text(), "109");
    expect_look(grey, green); // as laid out
    EXPECT_FALSE(connected_shown());
    f().txtJetSize->setText("200"); // a jet size change alone computes nothing
    EXPECT_EQ(f().txtCorr->text(), "109");
    f().txtPressure->setText("1000"); // a reading change does
    EXPECT_EQ(f().txtCorr->text(), "209");
}

TEST_F(TickTest, CommaLocaleShowsCommasAndComputesWithTheirDecimals) {
    f().setLocale(QLocale(QLocale::German, QLocale::Germany));
    com1.write("$#50,1,20,2,101090\r"); // 1010.9 mb: the decimal is worth a whole size
    f().Timer1_Timer();
    EXPECT_EQ(readings(), QStringList({"50,0", "1010,9", "20,0"}));
    EXPECT_EQ(f().txtCorr->text(), "151"); // 150.545, not 150.5 from 1010
    f().txtJetSize->setText("151,5");
    f().txtPressure->setText("1000,0");
    EXPECT_EQ(f().txtCorr->text(), "152");
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
        window().txtJetSize->setText(c.jet);
        window().txtHumidity->setText(c.humidity);
        window().txtPressure->setText(c.pressure);
        window().txtTemperature->setText(c.temperature);
        window().calc_jet();
        EXPECT_EQ(window().txtCorr->text().toStdString(), c.corrected);
    }
}

TEST_F(WindowTest, JetSizeTooLargeForAnIntegerIsWrittenInFull) {
    window().txtJetSize->setText("1e300");
    window().txtHumidity->setText("50");
    window().txtPressure->setText("1000");
    window().txtTemperature->setText("20");
    const QString corrected = window().txtCorr->text();
    EXPECT_EQ(corrected.size(), 301);
    EXPECT_TRUE(corrected.startsWith("10000000000000000"));
    EXPECT_EQ(corrected.count(QRegularExpression("[0-9]")), 301);
}

TEST_F(WindowTest, JetCorrectionKeepsItsLastResultWhenTheSumOverflows) {
    window().txtJetSize->setText("150");
    window().txtHumidity->setText("50");
    window().txtPressure->setText("1000");
    window().txtTemperature->setText("20");
    ASSERT_EQ(window().txtCorr->text(), "150");
    window().txtPressure->setText("1e309"); // beyond a double
    EXPECT_EQ(window().txtCorr->text(), "150");
    window().txtPressure->setText("1000");
    window().txtHumidity->setText("1e309");
    window().txtTemperature->setText("-1e309"); // infinity minus infinity
    EXPECT_EQ(window().txtCorr->text(), "150");
    window().txtHumidity->setText("50");
    window().txtTemperature->setText("21");
    ASSERT_EQ(window().txtCorr->text(), "150"); // 149.75
    window().txtJetSize->setText("1.7e308");
    window().txtTemperature->setText("-1.7e308"); // the correction fits, the jet does not
    EXPECT_EQ(window().txtCorr->text(), "150");
}

TEST_F(TickTest, TooltipsShowTheAirOfTheNumbersTheJetSizeComesFrom) {
    const QString live = QString::fromUtf8(
        "Air density 1.132 kg/m\u00b3 (95.7 % of the reference air) \u00b7 Density altitude 818 m "
        "\u00b7 Dew point 20.2 \u00b0C \u00b7 Vapour pressure 23.7 mbar");
    com1.write("$#65.04,1,27.35,2,98527\r"); // shown as 65.0, 985.3, 27.4
    f().Timer1_Timer();
    for (QLineEdit* box : {f().txtHumidity, f().txtPressure, f().txtTemperature, f().txtCorr})
        EXPECT_EQ(box->toolTip(), live) << box->objectName().toStdString();

    f().Timer1_Timer(); // idle: the pressure box reads 0.0
    EXPECT_EQ(f().txtCorr->toolTip(), "No air data: these readings do not describe air.");

    f().txtPressure->setText("985.3"); // typed numbers count as well
    EXPECT_EQ(f().txtHumidity->toolTip(), live);
    f().txtHumidity->setText("wet"); // no number: 0 %, dry air
    EXPECT_TRUE(f().txtCorr->toolTip().startsWith("Air density 1.142 kg/m\u00b3"))
        << f().txtCorr->toolTip().toStdString();
    EXPECT_FALSE(f().txtCorr->toolTip().contains("Dew point"));
}

TEST_F(TickTest, TooltipsUseTheLocalesDecimalSeparator) {
    f().setLocale(QLocale(QLocale::German, QLocale::Germany));
    com1.write("$#65.04,1,27.35,2,98527\r");
    f().Timer1_Timer();
    EXPECT_EQ(f().txtCorr->toolTip(),
              QString::fromUtf8("Air density 1,132 kg/m\u00b3 (95,7 % of the reference air) \u00b7 "
                                "Density altitude 818 m \u00b7 Dew point 20,2 \u00b0C \u00b7 "
                                "Vapour pressure 23,7 mbar"));
}
