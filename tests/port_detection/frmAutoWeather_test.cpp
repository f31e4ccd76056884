// The detection dialog on the headless backend: its layout, the probe timeline to the
// millisecond, "Again", closing in the middle of a probe, and odd or many port names.
#include "auto_weather_icon.h"
#include "detection_fixture.h"

using detection_test::Detection;
using port_detection::frmAutoWeather;
using namespace window_system;
using Log = std::vector<std::string>;

namespace {

const char* const hash_reply = "$#52.5,1,23.4,2,101325\r";
const Colour no_reply = rgb(2, 0, 0);
const char* const not_detected = "NOT DETECTED. Close all programs and check again.";

} // namespace

TEST_F(Detection, ACreatedDialogHoldsItsLayoutAndProbesNothingBeforeItLoads) {
    link.state.com_port = 7;
    frmAutoWeather dlg(desktop, link, host);
    EXPECT_EQ(dlg.caption(), "Automatic COM Port Detection");
    EXPECT_EQ(dlg.client_width(), 4950);
    EXPECT_EQ(dlg.client_height(), 5190);
    EXPECT_TRUE(dlg.centred);
    EXPECT_TRUE(dlg.key_preview);
    EXPECT_EQ(dlg.icon(), &port_detection::auto_weather_icon());
    EXPECT_EQ(dlg.menu_bar().size(), 0u);
    EXPECT_EQ(dlg.lblstatus.caption(), "...");
    EXPECT_EQ(dlg.lblstatus.left(), 300);
    EXPECT_EQ(dlg.lblstatus.top(), 240);
    EXPECT_EQ(dlg.lblCOM.count(), 1);
    EXPECT_FALSE(dlg.lblCOM.exists(0)); // the column starts at 1
    EXPECT_EQ(dlg.lblCOM[1].caption(), "COM1");
    EXPECT_EQ(dlg.lblCOM[1].left(), 240);
    EXPECT_EQ(dlg.lblCOM[1].top(), 690);
    EXPECT_EQ(dlg.lblCOM[1].fore_colour(), colours::grey);
    EXPECT_EQ(dlg.lblCOM[1].tag, "");
    EXPECT_EQ(dlg.cmdAgain.rect(), (Rect{1020, 4440, 1245, 525}));
    EXPECT_EQ(dlg.cmdClose.rect(), (Rect{2580, 4440, 1245, 525}));
    EXPECT_EQ(dlg.cmdAgain.caption(), "Again");
    EXPECT_EQ(dlg.cmdClose.caption(), "Close");
    EXPECT_EQ(dlg.controls().front().get(), &dlg.cmdAgain); // first in the tab order
    EXPECT_EQ(dlg.Timer1.interval(), 2000);
    EXPECT_TRUE(dlg.Timer1.enabled());
    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(link.state.com_port, 7);
}

TEST_F(Detection, TheIconIsAGreenChartWithABlueArchAndAShadow) {
    const Picture& icon = port_detection::auto_weather_icon();
    ASSERT_EQ(icon.width, 32);
    ASSERT_EQ(icon.height, 32);
    const struct {
        int x, y;
        std::uint32_t argb; // 0: transparent
        const char* what;
    } pixels[] = {
        {0, 0, 0xFF00FF00, "panel"},
        {2, 0, 0xFF008000, "vertical rule on column 2"},
        {2, 1, 0xFF00FF00, "rules are dotted"},
        {26, 15, 0xFF008000, "horizontal rule on row 15"},
        {19, 5, 0xFF0000FF, "flat top of the arch"},
        {19, 3, 0xFF000080, "navy outline above the top"},
        {30, 10, 0xFF808080, "shadow on the right"},
        {10, 30, 0xFF808080, "shadow at the bottom"},
        {30, 1, 0, "top right corner"},
        {1, 30, 0, "bottom left corner"},
    };
    for (const auto& p : pixels)
        EXPECT_EQ(icon.at(p.x, p.y), p.argb) << p.what;
}

// Ports COM1 and COM3, station on COM3, the dialog opened at T = 500.
TEST_F(Detection, FindsTheStationOnTheSecondPortOnTheTicksOfItsTimeline) {
    ports.add(1);
    ports.add(3, hash_reply, "COM3 (ttyS2)");
    backend.advance(500);
    run([&](frmAutoWeather& dlg) {
        // The load ran the whole first probe, pause included, before the dialog showed.
        EXPECT_EQ(calls(), (Log{"500 carga_coms", "500 stop_timer", "500 Abrir_puerto 1",
                                "1500 start_timer"}));
        EXPECT_EQ(backend.pumps, 1);
        EXPECT_TRUE(dlg.shown());
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM1   (communicating)");
        EXPECT_EQ(dlg.lblCOM[1].fore_colour(), colours::grey);
        EXPECT_EQ(dlg.lblCOM[2].caption(), "COM3 (ttyS2)");
        EXPECT_EQ(dlg.lblCOM[1].top(), 700);
        EXPECT_EQ(dlg.lblCOM[2].top(), 1000);
        EXPECT_EQ(dlg.lblCOM[2].tag, "3");
        EXPECT_EQ(dlg.lblstatus.caption(), "Checking COM ports, please wait...");
        EXPECT_EQ(dlg.lblstatus.fore_colour(), colours::black);
        EXPECT_FALSE(dlg.cmdAgain.enabled());
        EXPECT_EQ(dlg.Timer1.interval(), 3000);
        EXPECT_EQ(link.state.com_port, 1);

        backend.advance_to(3500); // T + 3000
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM1   (no reply)");
        EXPECT_EQ(dlg.lblCOM[1].fore_colour(), no_reply);
        EXPECT_EQ(dlg.lblCOM[2].caption(), "COM3   (communicating)");

        backend.advance_to(6499);
        EXPECT_EQ(dlg.lblCOM[2].caption(), "COM3   (communicating)");
        backend.advance_to(6500); // T + 6000: the verdict comes before the stand-in's tick
        EXPECT_EQ(dlg.lblCOM[2].caption(), "COM3   Connected");
        EXPECT_EQ(dlg.lblCOM[2].fore_colour(), colours::green);
        EXPECT_EQ(dlg.lblstatus.caption(), "COMMUNICATION DONE IN COM 3");
        EXPECT_TRUE(dlg.lblstatus.font().bold());
        EXPECT_EQ(dlg.lblstatus.fore_colour(), colours::green);
        EXPECT_TRUE(dlg.cmdAgain.enabled());
        EXPECT_EQ(dlg.Timer1.interval(), 4000);
        EXPECT_EQ(link.state.com_port, 3);

        backend.advance_to(10499);
        EXPECT_TRUE(dlg.loaded());
        backend.advance_to(10500); // T + 10000
        EXPECT_FALSE(dlg.loaded());
    });
    EXPECT_EQ(calls(), (Log{"500 carga_coms", "500 stop_timer", "500 Abrir_puerto 1",
                            "1500 start_timer", "3500 stop_timer", "3500 Abrir_puerto 3",
                            "4500 start_timer", "6500 start_timer"}));
    EXPECT_EQ(link.state.com_port, 3);
    EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
    EXPECT_TRUE(host.Timer1.enabled());
}

TEST_F(Detection, AnEmptyListingProbesTheLayoutLabelAsPortZeroAndRunsOut) {
    run([&](frmAutoWeather& dlg) {
        EXPECT_FALSE(dlg.lblCOM[1].visible());
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM   (failed)");
        EXPECT_EQ(dlg.lblCOM[1].fore_colour(), colours::red);
        EXPECT_EQ(backend.pumps, 0); // no pause and no pump after a failed open

        backend.advance_to(3000);
        EXPECT_EQ(dlg.lblstatus.caption(), not_detected);
        EXPECT_EQ(dlg.lblstatus.fore_colour(), colours::red);
        EXPECT_FALSE(dlg.lblstatus.font().bold());
        EXPECT_TRUE(dlg.cmdAgain.enabled());
        EXPECT_FALSE(dlg.Timer1.enabled());
        EXPECT_EQ(calls(), (Log{"0 carga_coms", "0 stop_timer", "0 Abrir_puerto 0 failed",
                                "0 start_timer", "3000 Abrir_puerto 0 failed"}));
        EXPECT_EQ(link.state.com_port, 0);
        backend.advance(60000);
        EXPECT_TRUE(dlg.shown());
        dlg.cmdClose.click();
    });
}

// A held port fails, a silent one gives no reply; "Again" then scans a shorter listing, and the
// label of the port that went away is still probed, hidden, under its old number.
TEST_F(Detection, AFailedAndASilentPortRunOutAndAgainScansTheShorterListing) {
    ports.add(2).held = true;
    ports.add(4);
    run([&](frmAutoWeather& dlg) {
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM2   (failed)");
        EXPECT_EQ(dlg.lblCOM[1].fore_colour(), colours::red);
        EXPECT_EQ(link.state.com_port, 2);

        backend.advance_to(3000);
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM2   (failed)"); // no "(no reply)" after a failure
        EXPECT_EQ(dlg.lblCOM[2].caption(), "COM4   (communicating)");
        backend.advance_to(6000);
        EXPECT_EQ(dlg.lblCOM[2].caption(), "COM4   (no reply)");
        EXPECT_EQ(dlg.lblstatus.caption(), not_detected);
        EXPECT_TRUE(host.Timer1.enabled());
        EXPECT_EQ(link.state.com_port, 0);

        ports.devices[2].held = false;
        ports.names = {"COM2"};
        host.log.clear();
        dlg.cmdAgain.click();
        EXPECT_EQ(calls(), (Log{"6000 carga_coms", "6000 stop_timer", "6000 Abrir_puerto 2",
                                "7000 start_timer"}));
        EXPECT_EQ(dlg.lblstatus.caption(), "Checking COM ports, please wait...");
        EXPECT_EQ(dlg.lblstatus.fore_colour(), colours::black);
        EXPECT_EQ(dlg.lblCOM[1].fore_colour(), colours::grey);
        EXPECT_TRUE(dlg.Timer1.enabled());
        EXPECT_EQ(dlg.Timer1.interval(), 3000);
        EXPECT_FALSE(dlg.lblCOM[2].visible());

        backend.advance_to(9000);
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM2   (no reply)");
        EXPECT_EQ(dlg.lblCOM[2].caption(), "COM4   (communicating)");
        EXPECT_FALSE(dlg.lblCOM[2].visible());
        backend.advance_to(12000);
        EXPECT_EQ(dlg.lblstatus.caption(), not_detected);
        dlg.key_down(key_escape, 0);
    });
}

TEST_F(Detection, AgainWithinFourSecondsOfASuccessScansAfreshInsteadOfClosing) {
    ports.add(1, hash_reply);
    run([&](frmAutoWeather& dlg) {
        backend.advance_to(3000);
        ASSERT_EQ(dlg.lblstatus.caption(), "COMMUNICATION DONE IN COM 1");
        backend.advance_to(5000);
        dlg.cmdAgain.click();
        EXPECT_EQ(dlg.lblstatus.caption(), "Checking COM ports, please wait...");
        EXPECT_FALSE(dlg.lblstatus.font().bold());
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM1   (communicating)");
        EXPECT_EQ(dlg.Timer1.interval(), 3000);
        backend.advance_to(7000); // when the dialog would have closed
        EXPECT_TRUE(dlg.loaded());
        backend.advance_to(8000); // the new probe's verdict
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM1   Connected");
        backend.advance_to(12000);
        EXPECT_FALSE(dlg.loaded());
    });
    EXPECT_EQ(link.state.com_port, 1);
}

// Closing leaves the link as it is: the port probed last stays the main window's port.
TEST_F(Detection, EscapeWithAnyShiftStateOrCloseEndsTheScanAndLeavesTheProbedPort) {
    ports.add(6).held = true; // fails at once: no pause
    const struct {
        const char* how;
        std::function<void(frmAutoWeather&)> act;
        bool closes;
    } cases[] = {
        {"Escape", [](frmAutoWeather& d) { d.key_down(key_escape, 0); }, true},
        {"Ctrl+Alt+Escape", [](frmAutoWeather& d) { d.key_down(key_escape, ctrl_key | alt_key); },
         true},
        {"a letter", [](frmAutoWeather& d) { d.key_down('A', 0); }, false},
        {"Close", [](frmAutoWeather& d) { d.cmdClose.click(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        run([&](frmAutoWeather& dlg) {
            c.act(dlg);
            EXPECT_EQ(dlg.loaded(), !c.closes);
            EXPECT_EQ(link.state.com_port, 6);
            EXPECT_TRUE(host.Timer1.enabled());
            if (!c.closes)
                dlg.unload();
        });
    }
}

// Escape in the probe's event pump closes the dialog at once; the probe still reads and starts
// the main window's timer, and the dialog is unloaded once the tick that probed has returned.
TEST_F(Detection, EscapeDuringAProbesPumpClosesTheDialogAfterTheProbeHasEnded) {
    ports.add(1).held = true;
    ports.add(2, hash_reply);
    ports.devices[2].late = true; // its reply is read by the probe's second read
    run([&](frmAutoWeather& dlg) {
        float pressure_at_unload = -1;
        host.on_open = [&](std::int16_t) {
            backend.post([&] {
                dlg.key_down(key_escape, 0);
                EXPECT_FALSE(dlg.shown()); // at once
                EXPECT_TRUE(dlg.loaded());
            });
        };
        dlg.on_unload = [&] { pressure_at_unload = link.state.pressure; };
        backend.advance_to(3000);
        EXPECT_FALSE(dlg.loaded());
        EXPECT_GT(pressure_at_unload, 0); // the probe's read had run by the time it unloaded
        EXPECT_EQ(calls().back(), "4000 start_timer");
        EXPECT_EQ(link.state.com_port, 2);
        EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
        EXPECT_TRUE(host.Timer1.enabled());
        EXPECT_FALSE(dlg.Timer1.enabled());
    });
}

// A probe that takes longer than the dialog's interval: the tick that falls due meanwhile is
// held, and judges the probe once it has ended; it never starts the next probe inside this one.
TEST_F(Detection, ATickThatFallsDueDuringALongProbeIsHeldUntilTheProbeHasEnded) {
    ports.add(1);
    ports.add(2, hash_reply);
    host.on_open = [&](std::int16_t port) {
        if (port == 1)
            backend.pause(2500); // the system takes its time over this open
    };
    run([&](frmAutoWeather& dlg) {
        EXPECT_EQ(calls(),
                  (Log{"0 carga_coms", "0 stop_timer", "0 Abrir_puerto 1", "3500 start_timer"}));
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM1   (communicating)");
        backend.advance(0); // the tick that fell due at 3000
        EXPECT_EQ(dlg.lblCOM[1].caption(), "COM1   (no reply)");
        EXPECT_EQ(calls().back(), "4500 start_timer");
        backend.advance_to(6000); // the next tick keeps the dialog's beat
        EXPECT_EQ(dlg.lblstatus.caption(), "COMMUNICATION DONE IN COM 2");
        dlg.unload();
    });
}

// Names are shown as plain one-line text up to a NUL; a name without a COM number gets a
// number of its own from 1000 on, and an empty one is no port.
TEST_F(Detection, OddPortNamesAreShownPlainAndGiveTheirNumberOrOneOfTheirOwn) {
    const struct {
        std::string listed;
        std::string shown;
        std::string tag;
    } names[] = {
        {std::string("COM3\0", 5), "COM3", "3"},
        {"CNCA0", "CNCA0", "1000"},
        {"", "", "0"},
        {"<b>COM7</b>", "<b>COM7</b>", "1001"},
        {"COM99999", "COM99999", "1002"},
        {"COM12 (tty\nUSB0)", "COM12 (tty USB0)", "12"},
        {std::string("COM2\0junk", 9), "COM2", "2"},
        {"COM2.5", "COM2.5", "2"},
    };
    for (const auto& n : names)
        ports.names.push_back(n.listed);
    run([&](frmAutoWeather& dlg) {
        for (std::int16_t i = 1; i <= static_cast<std::int16_t>(std::size(names)); ++i) {
            const auto& n = names[i - 1];
            SCOPED_TRACE(i);
            EXPECT_EQ(dlg.lblCOM[i].caption(), i == 1 ? "COM" + n.tag + "   (failed)" : n.shown);
            EXPECT_EQ(dlg.lblCOM[i].tag, n.tag);
        }
        dlg.unload();
    });
    EXPECT_EQ(calls()[2], "0 Abrir_puerto 3 failed");
}

// A port listed under a name of its own is probed, labelled and reported under that name.
TEST_F(Detection, APortWithoutANumberIsProbedUnderItsOwnNameAndCanBeFound) {
    ports.add_named("BthModem2").held = true;
    ports.add_named("CNCA0", hash_reply);
    run([&](frmAutoWeather& dlg) {
        EXPECT_EQ(dlg.lblCOM[1].caption(), "BthModem2   (failed)");
        EXPECT_EQ(dlg.lblCOM[2].tag, "1001");
        backend.advance_to(3000);
        EXPECT_EQ(dlg.lblCOM[2].caption(), "CNCA0   (communicating)");
        backend.advance_to(6000);
        EXPECT_EQ(dlg.lblCOM[2].caption(), "CNCA0   Connected");
        EXPECT_EQ(dlg.lblstatus.caption(), "COMMUNICATION DONE IN CNCA0");
        EXPECT_EQ(link.state.com_port, 1001);
        dlg.unload();
    });
    EXPECT_EQ(calls(), (Log{"0 carga_coms", "0 stop_timer", "0 Abrir_puerto 1000 failed",
                            "0 start_timer", "3000 stop_timer", "3000 Abrir_puerto 1001",
                            "4000 start_timer", "6000 start_timer"}));
    EXPECT_EQ(ports.devices[platform::PortId::named("CNCA0")].opens, 1);
}

TEST_F(Detection, AListingLongerThanTheColumnIsCutAtLabel107) {
    for (int n = 1; n <= 200; ++n)
        ports.names.push_back("COM" + std::to_string(n));
    run([&](frmAutoWeather& dlg) {
        EXPECT_EQ(dlg.lblCOM.count(), 107);
        EXPECT_EQ(dlg.lblCOM[107].top(), 32500);
        EXPECT_EQ(dlg.lblCOM[107].caption(), "COM107");
        backend.advance_to(107 * 3000);
        EXPECT_EQ(dlg.lblCOM[107].caption(), "COM107   (failed)");
        EXPECT_EQ(dlg.lblstatus.caption(), not_detected);
        dlg.unload();
    });
}
