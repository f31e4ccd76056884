// The detection dialog against stations on pseudo-terminals, its ticks delivered by the test.
#include "detection_fixture.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using detection_test::button;
using detection_test::caption;
using detection_test::Detection;
using detection_test::dialog_timer;
using detection_test::fore_colour;
using detection_test::port_label;
using detection_test::post_tick;
using detection_test::Station;
using detection_test::status_line;
using detection_test::tick;
using port_detection::frmAutoWeather;
using Log = std::vector<std::string>;

namespace {

const char* const hash_reply = "$#52.5,1,23.4,2,101325\r";
const QColor black(0, 0, 0);
const QColor grey(128, 128, 128);
const QColor red(255, 0, 0);
const QColor green(0, 255, 0);
const QColor no_reply(2, 0, 0);
const char* const not_detected = "NOT DETECTED. Close all programs and check again.";

bool starts_with(const QLabel* label, const std::string& prefix) {
    return caption(label).rfind(prefix, 0) == 0;
}

} // namespace

TEST_F(Detection, ACreatedDialogShowsItsLayoutAndProbesNothingBeforeItIsShown) {
    link.state.com_port = 7;
    frmAutoWeather dlg(link, host);

    EXPECT_EQ(dlg.windowTitle().toStdString(), "Automatic COM Port Detection");
    EXPECT_EQ(dlg.size(), QSize(330, 346)); // 4950 x 5190 twips
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_EQ(caption(status_line(dlg)), "...");
    EXPECT_EQ(status_line(dlg)->pos(), QPoint(20, 16));
    ASSERT_NE(port_label(dlg, 1), nullptr);
    EXPECT_EQ(port_label(dlg, 0), nullptr); // the column starts at 1
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM1");
    EXPECT_EQ(port_label(dlg, 1)->pos(), QPoint(16, 46));
    EXPECT_EQ(fore_colour(port_label(dlg, 1)), grey);
    EXPECT_EQ(button(dlg, "cmdAgain")->geometry(), QRect(68, 296, 83, 35));
    EXPECT_EQ(button(dlg, "cmdClose")->geometry(), QRect(172, 296, 83, 35));
    EXPECT_EQ(button(dlg, "cmdAgain")->text().toStdString(), "Again");
    EXPECT_EQ(button(dlg, "cmdClose")->text().toStdString(), "Close");
    EXPECT_TRUE(button(dlg, "cmdAgain")->isEnabled());
    EXPECT_EQ(dialog_timer(dlg)->interval(), 2000);

    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(link.state.com_port, 7);
}

TEST_F(Detection, TheIconIsAGreenChartWithABlueArchAndAShadow) {
    frmAutoWeather dlg(link, host);
    const QImage icon = dlg.windowIcon().pixmap(32, 32).toImage();
    ASSERT_EQ(icon.size(), QSize(32, 32));
    const struct {
        int x, y;
        QColor colour; // alpha 0: transparent
        const char* what;
    } pixels[] = {
        {0, 0, QColor(0, 255, 0), "panel"},
        {2, 0, QColor(0, 128, 0), "vertical rule on column 2"},
        {2, 1, QColor(0, 255, 0), "rules are dotted"},
        {26, 15, QColor(0, 128, 0), "horizontal rule on row 15"},
        {19, 5, QColor(0, 0, 255), "flat top of the arch"},
        {19, 3, QColor(0, 0, 128), "navy outline above the top"},
        {30, 10, QColor(128, 128, 128), "shadow on the right"},
        {10, 30, QColor(128, 128, 128), "shadow at the bottom"},
        {30, 1, QColor(0, 0, 0, 0), "top right corner"},
        {1, 30, QColor(0, 0, 0, 0), "bottom left corner"},
    };
    for (const auto& p : pixels) {
        const QColor got = icon.pixelColor(p.x, p.y);
        if (p.colour.alpha() == 0)
            EXPECT_EQ(got.alpha(), 0) << p.what;
        else
            EXPECT_EQ(got, p.colour) << p.what;
    }
}

// Ports COM1 and COM3, station on COM3.
TEST_F(Detection, FindsTheStationOnTheSecondPortAndClosesOnTheTickAfter) {
    Station silent(""), station(hash_reply);
    add_port(1, silent);
    add_port(3, station);
    frmAutoWeather dlg(link, host);
    std::vector<bool> shown_at_probe;
    host.on_stop_timer = [&] { shown_at_probe.push_back(dlg.isVisible()); };

    dlg.show(); // the load runs the whole first probe before the dialog appears
    EXPECT_EQ(shown_at_probe, std::vector<bool>{false});
    EXPECT_EQ(host.log, (Log{"carga_coms", "stop_timer", "Abrir_puerto 1", "start_timer"}));
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM1   (communicating)");
    EXPECT_EQ(fore_colour(port_label(dlg, 1)), grey);
    EXPECT_TRUE(starts_with(port_label(dlg, 2), "COM3 ("));
    EXPECT_EQ(fore_colour(port_label(dlg, 2)), grey);
    EXPECT_EQ(port_label(dlg, 1)->y(), 47); // 700 twips
    EXPECT_EQ(port_label(dlg, 2)->y(), 67); // 1000 twips
    EXPECT_EQ(caption(status_line(dlg)), "Checking COM ports, please wait...");
    EXPECT_EQ(fore_colour(status_line(dlg)), black);
    EXPECT_FALSE(button(dlg, "cmdAgain")->isEnabled());
    EXPECT_EQ(dialog_timer(dlg)->interval(), 3000);
    // The verdict has to come before the main window's next tick, which clears the pressure.
    EXPECT_LT(dialog_timer(dlg)->remainingTime(), host.main_timer.remainingTime());

    ASSERT_TRUE(tick(dlg));
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM1   (no reply)");
    EXPECT_EQ(fore_colour(port_label(dlg, 1)), no_reply);
    EXPECT_EQ(caption(port_label(dlg, 2)), "COM3   (communicating)");

    ASSERT_TRUE(tick(dlg));
    EXPECT_EQ(caption(port_label(dlg, 2)), "COM3   Connected");
    EXPECT_EQ(fore_colour(port_label(dlg, 2)), green);
    EXPECT_EQ(caption(status_line(dlg)), "COMMUNICATION DONE IN COM 3");
    EXPECT_TRUE(status_line(dlg)->font().bold());
    EXPECT_EQ(fore_colour(status_line(dlg)), green);
    EXPECT_LE(status_line(dlg)->geometry().right(), dlg.width() - 1);
    EXPECT_TRUE(button(dlg, "cmdAgain")->isEnabled());
    EXPECT_EQ(dialog_timer(dlg)->interval(), 4000);
    EXPECT_EQ(link.state.com_port, 3);
    EXPECT_EQ(host.log, (Log{"carga_coms", "stop_timer", "Abrir_puerto 1", "start_timer",
                             "stop_timer", "Abrir_puerto 3", "start_timer", "start_timer"}));

    ASSERT_TRUE(tick(dlg));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(link.state.com_port, 3);
    EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
    EXPECT_TRUE(host.main_timer.isActive());
    EXPECT_EQ(host.log.size(), 8u);
}

TEST_F(Detection, AnEmptyListingProbesTheLayoutLabelAsPortZeroAndRunsOut) {
    frmAutoWeather dlg(link, host);
    dlg.show();
    EXPECT_FALSE(port_label(dlg, 1)->isVisible());
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM   (failed)");
    EXPECT_EQ(fore_colour(port_label(dlg, 1)), red);

    ASSERT_TRUE(tick(dlg));
    EXPECT_EQ(caption(status_line(dlg)), not_detected);
    EXPECT_EQ(fore_colour(status_line(dlg)), red);
    EXPECT_FALSE(status_line(dlg)->font().bold());
    EXPECT_LE(status_line(dlg)->geometry().right(), dlg.width() - 1); // the longest text fits
    EXPECT_TRUE(button(dlg, "cmdAgain")->isEnabled());
    EXPECT_FALSE(tick(dlg)); // the dialog's timer has stopped
    EXPECT_EQ(host.log, (Log{"carga_coms", "stop_timer", "Abrir_puerto 0 failed", "start_timer",
                             "Abrir_puerto 0 failed"}));
    EXPECT_EQ(link.state.com_port, 0);
    EXPECT_TRUE(dlg.isVisible());
}

// A held port fails, a silent one gives no reply; "Again" then scans a shorter listing, and the
// label of the port that went away is still probed, hidden, under its old number.
TEST_F(Detection, AFailedAndASilentPortRunOutAndAgainScansTheShorterListing) {
    Station first(""), second("");
    add_port(2, first);
    add_port(4, second);
    auto other_program = platform::make_posix_serial_port(paths);
    const platform::Handle held = other_program->open(2);
    ASSERT_TRUE(platform::is_open_handle(held));

    frmAutoWeather dlg(link, host);
    dlg.show();
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM2   (failed)");
    EXPECT_EQ(fore_colour(port_label(dlg, 1)), red);
    EXPECT_EQ(link.state.com_port, 2);

    ASSERT_TRUE(tick(dlg));
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM2   (failed)"); // no "(no reply)" after a failure
    EXPECT_EQ(fore_colour(port_label(dlg, 1)), red);
    EXPECT_EQ(caption(port_label(dlg, 2)), "COM4   (communicating)");

    ASSERT_TRUE(tick(dlg));
    EXPECT_EQ(caption(port_label(dlg, 2)), "COM4   (no reply)");
    EXPECT_EQ(caption(status_line(dlg)), not_detected);
    EXPECT_FALSE(dialog_timer(dlg)->isActive());
    EXPECT_TRUE(host.main_timer.isActive());
    EXPECT_EQ(host.log.back(), "Abrir_puerto 0 failed");
    EXPECT_EQ(link.state.com_port, 0);

    other_program->close(held);
    remove_port(4);
    host.log.clear();
    QTest::mouseClick(button(dlg, "cmdAgain"), Qt::LeftButton);
    EXPECT_EQ(host.log, (Log{"carga_coms", "stop_timer", "Abrir_puerto 2", "start_timer"}));
    EXPECT_EQ(caption(status_line(dlg)), "Checking COM ports, please wait...");
    EXPECT_EQ(fore_colour(status_line(dlg)), black);
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM2   (communicating)");
    EXPECT_EQ(fore_colour(port_label(dlg, 1)), grey);
    EXPECT_TRUE(dialog_timer(dlg)->isActive());
    EXPECT_EQ(dialog_timer(dlg)->interval(), 3000);
    EXPECT_FALSE(port_label(dlg, 2)->isVisible());

    ASSERT_TRUE(tick(dlg));
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM2   (no reply)");
    EXPECT_EQ(caption(port_label(dlg, 2)), "COM4   (failed)");
    EXPECT_FALSE(port_label(dlg, 2)->isVisible());
    ASSERT_TRUE(tick(dlg));
    EXPECT_EQ(caption(status_line(dlg)), not_detected);
}

TEST_F(Detection, AgainRightAfterASuccessScansAfreshInsteadOfClosing) {
    Station station(hash_reply);
    add_port(1, station);
    frmAutoWeather dlg(link, host);
    dlg.show();
    ASSERT_TRUE(tick(dlg));
    ASSERT_EQ(caption(status_line(dlg)), "COMMUNICATION DONE IN COM 1");

    QTest::mouseClick(button(dlg, "cmdAgain"), Qt::LeftButton);
    EXPECT_EQ(caption(status_line(dlg)), "Checking COM ports, please wait...");
    EXPECT_FALSE(status_line(dlg)->font().bold());
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM1   (communicating)");
    EXPECT_EQ(fore_colour(port_label(dlg, 1)), grey);
    EXPECT_EQ(dialog_timer(dlg)->interval(), 3000);

    // The tick that would have closed the dialog judges the new probe instead.
    ASSERT_TRUE(tick(dlg));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM1   Connected");
    EXPECT_EQ(link.state.com_port, 1);
}

// Escape reaches the dialog whichever control has the focus, whatever the modifiers. Closing
// leaves the link as it is: the port probed last stays the main window's port.
TEST_F(Detection, EscapeOrCloseEndsTheScanAndLeavesTheProbedPort) {
    Station station("");
    add_port(6, station);
    auto other_program = platform::make_posix_serial_port(paths);
    ASSERT_TRUE(platform::is_open_handle(other_program->open(6))); // fails at once: no pause
    const struct {
        const char* how;
        const char* target; // a button, or the dialog itself
        Qt::Key key;        // Key_unknown: a click
        Qt::KeyboardModifiers modifiers;
        bool closes;
    } cases[] = {
        {"Escape on Close", "cmdClose", Qt::Key_Escape, Qt::NoModifier, true},
        {"Shift+Escape on Close", "cmdClose", Qt::Key_Escape, Qt::ShiftModifier, true},
        {"Ctrl+Alt+Escape on the dialog", nullptr, Qt::Key_Escape,
         Qt::ControlModifier | Qt::AltModifier, true},
        {"a letter", "cmdClose", Qt::Key_A, Qt::NoModifier, false},
        {"click on Close", "cmdClose", Qt::Key_unknown, Qt::NoModifier, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        frmAutoWeather dlg(link, host);
        dlg.show();
        QWidget* target = c.target ? static_cast<QWidget*>(button(dlg, c.target)) : &dlg;
        if (c.key == Qt::Key_unknown)
            QTest::mouseClick(target, Qt::LeftButton);
        else
            QTest::keyClick(target, c.key, c.modifiers);
        EXPECT_EQ(dlg.isVisible(), !c.closes);
        EXPECT_EQ(link.state.com_port, 6);
        EXPECT_TRUE(host.main_timer.isActive());
        EXPECT_EQ(tick(dlg), !c.closes); // a closed dialog's timer has stopped
    }
}

// Closed by Escape in the middle of a probe (in its event pump), the dialog ends the probe as
// usual, however soon its owner deletes it: deferred (the usual way), or at once when it has
// finished (a use after free there shows under AddressSanitizer).
TEST_F(Detection, ClosingDuringAProbeStillEndsTheProbeWhenTheOwnerDeletesTheDialog) {
    Station held_port(""), silent("");
    add_port(1, held_port);
    add_port(2, silent);
    auto other_program = platform::make_posix_serial_port(paths);
    ASSERT_TRUE(platform::is_open_handle(other_program->open(1))); // fails at once: no pause

    for (const bool at_once : {false, true}) {
        SCOPED_TRACE(at_once ? "deleted at once" : "deleted later");
        QPointer<frmAutoWeather> dlg = new frmAutoWeather(link, host);
        if (at_once)
            QObject::connect(dlg, &QDialog::finished, [&] { delete dlg.data(); });
        else
            dlg->setAttribute(Qt::WA_DeleteOnClose);
        host.on_open = [&](std::int16_t port) {
            if (port == 2) // delivered by the probe's event pump, after the pause
                QCoreApplication::postEvent(button(*dlg, "cmdClose"),
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
        };
        bool alive_at_end = false;
        host.on_start_timer = [&] { alive_at_end = !dlg.isNull(); };
        host.log.clear();
        dlg->show();
        ASSERT_TRUE(tick(*dlg));

        EXPECT_EQ(host.log, (Log{"carga_coms", "stop_timer", "Abrir_puerto 1 failed", "start_timer",
                                 "stop_timer", "Abrir_puerto 2", "start_timer"}));
        EXPECT_EQ(alive_at_end, !at_once);
        if (dlg) {
            EXPECT_FALSE(dlg->isVisible());
            EXPECT_FALSE(tick(*dlg));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(dlg.isNull());
        EXPECT_EQ(link.state.com_port, 2);
        EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
        EXPECT_TRUE(host.main_timer.isActive());
    }
}

// A tick that falls due while a probe is still running reaches the dialog through the probe's
// event pump. It is judged once the probe has ended; it must not start the next probe inside
// this one.
TEST_F(Detection, ATickThatFallsDueDuringAProbeWaitsUntilTheProbeHasEnded) {
    Station silent(""), station(hash_reply);
    add_port(1, silent);
    add_port(2, station);
    frmAutoWeather dlg(link, host);
    host.on_open = [&](std::int16_t port) {
        if (port == 1)
            post_tick(dlg);
    };
    dlg.show();
    EXPECT_EQ(host.log, (Log{"carga_coms", "stop_timer", "Abrir_puerto 1", "start_timer"}));
    QCoreApplication::processEvents(); // the held tick
    EXPECT_EQ(caption(port_label(dlg, 1)), "COM1   (no reply)");
    EXPECT_EQ(host.log, (Log{"carga_coms", "stop_timer", "Abrir_puerto 1", "start_timer",
                             "stop_timer", "Abrir_puerto 2", "start_timer"}));
    ASSERT_TRUE(tick(dlg));
    EXPECT_EQ(caption(status_line(dlg)), "COMMUNICATION DONE IN COM 2");
}

// Names are shown as plain one-line text up to a NUL; a name without a port number where one
// belongs is probed as port 0.
TEST_F(Detection, OddPortNamesAreShownPlainAndGiveTheirNumberOrZero) {
    detection_test::ListedPorts odd;
    weather::Link odd_link(*port, odd);
    const struct {
        std::string listed;
        std::string shown;
        std::string tag;
    } names[] = {
        {std::string("COM3\0", 5), "COM3", "3"},
        {"CNCA0", "CNCA0", "0"},
        {"", "", "0"},
        {"<b>COM7</b>", "<b>COM7</b>", "0"},
        {"COM99999", "COM99999", "0"},
        {"COM12 (tty\nUSB0)", "COM12 (tty USB0)", "12"},
        {std::string("COM2\0junk", 9), "COM2", "2"},
        {"COM2.5", "COM2.5", "2"},
    };
    for (const auto& n : names)
        odd.names.push_back(n.listed);
    detection_test::TestHost odd_host(odd_link);
    frmAutoWeather dlg(odd_link, odd_host);
    dlg.show(); // nothing opens in the isolated port map: the first probe fails at once

    for (int i = 1; i <= static_cast<int>(std::size(names)); ++i) {
        const auto& n = names[i - 1];
        SCOPED_TRACE(i);
        const port_detection::PortLabel* label = port_label(dlg, i);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_EQ(caption(label), i == 1 ? "COM" + n.tag + "   (failed)" : n.shown);
        EXPECT_EQ(label->tag, n.tag);
    }
    EXPECT_EQ(odd_host.log[2], "Abrir_puerto 3 failed");
}

TEST_F(Detection, AListingLongerThanTheColumnIsCutAtLabel107) {
    detection_test::ListedPorts many;
    for (int n = 1; n <= 200; ++n)
        many.names.push_back("COM" + std::to_string(n));
    weather::Link many_link(*port, many);
    detection_test::TestHost many_host(many_link);
    frmAutoWeather dlg(many_link, many_host);
    dlg.show();
    ASSERT_NE(port_label(dlg, 107), nullptr);
    EXPECT_EQ(port_label(dlg, 107)->y(), 2167); // 32500 twips
    EXPECT_EQ(caption(port_label(dlg, 107)), "COM107");
    EXPECT_EQ(port_label(dlg, 108), nullptr);
}
