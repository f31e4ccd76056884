// Start-up, the port menu, "Show Jet Fields", the detection hooks and closing.
#include "pictures.h"
#include "window_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <filesystem>

using main_window::px;
using namespace std::string_literals;

TEST_F(WindowTest, FirstRunOpensAndPollsCom1AndWritesNothing) {
    test_support::PtyPair& com1 = station(1);
    window().Form_Load();
    EXPECT_EQ(com1.read_available(500), "D");
    EXPECT_EQ(link.state.com_port, 1);
    EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
    EXPECT_EQ(ticked(), std::vector<int>{1});
    EXPECT_FALSE(window().mnShowJet->isChecked());
    EXPECT_EQ(window().height(), px(2300));
    EXPECT_EQ(window().txtCorr->text(), "107"); // the boxes still read "-": 2 - 50 + 5
    EXPECT_TRUE(shows_picture(window().windowIcon(), main_window::disconnected_xpm));
    EXPECT_FALSE(window().imgDesconectado->isHidden());
    EXPECT_TRUE(window().imgConectado->isHidden());
    EXPECT_FALSE(std::filesystem::exists(settings_file));
}

TEST_F(WindowTest, StoredShowJetTicksTheOptionOnlyForTheValueOne) {
    const struct {
        const char* stored;
        bool ticked;
    } cases[] = {{"1", true},   {"1.0", true}, {" 1", true},  {"2", false},
                 {"-1", false}, {"", false},   {"yes", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        put("show_jet", c.stored);
        w.reset();
        window().Form_Load();
        EXPECT_EQ(window().mnShowJet->isChecked(), c.ticked);
        EXPECT_EQ(window().height(), px(c.ticked ? 3300 : 2300));
        EXPECT_EQ(window().width(), px(4245));
    }
}

TEST_F(WindowTest, StoredPortIsReadAsANumberAndRoundedHalvesToEven) {
    lister.names = {"COM2 (ttyS1)", "COM4 (ttyS3)"};
    const struct {
        const char* stored;
        int port;
        std::vector<int> ticks;
    } cases[] = {
        {"word", 0, {0}},  {"2.5", 2, {1}},    {"3.5", 4, {2}},   {"4", 4, {2}},
        {"70000", 0, {0}}, {"-40000", 0, {0}}, {"1e999", 0, {0}}, {"9", 9, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        put("weather_com", c.stored);
        w.reset();
        window().Form_Load();
        EXPECT_EQ(link.state.com_port, c.port);
        EXPECT_EQ(ticked(), c.ticks);
    }
}

TEST_F(WindowTest, PortMenuFollowsShorterAndLongerListings) {
    lister.names = {"COM3\0"s, "COM1\0"s, "COM12\0"s};
    window().carga_coms();
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM3", "COM1", "COM12"}));
    EXPECT_EQ(window().item_number(1), 3);
    EXPECT_EQ(window().item_number(3), 12);
    EXPECT_EQ(window().mncom[3]->objectName(), "mncom(3)");

    lister.names = {"CNCA0"};
    window().carga_coms();
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "CNCA0"}));
    EXPECT_EQ(window().mncom.size(), 4u); // the surplus items stay, hidden
    EXPECT_EQ(window().item_number(1), 0);

    lister.names = {"COM5 (ttyS4)", "COM6 (ttyS5)", "COM7 (ttyS6)", "COM8 & more"};
    window().carga_coms();
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM5 (ttyS4)", "COM6 (ttyS5)",
                                                       "COM7 (ttyS6)", "COM8 && more"}));
    EXPECT_EQ(window().mncom.size(), 5u);
    EXPECT_EQ(window().item_number(4), 8);
    // The port items stand between "none" and the separator before "Auto".
    EXPECT_EQ(window().mnoptions->actions().indexOf(window().mn1), 5);

    lister.names.clear();
    window().carga_coms();
    EXPECT_EQ(shown_ports(), std::vector<std::string>{"none"});
}

TEST_F(WindowTest, AbrirPuertoTicksEveryItemOfThePortHiddenOnesIncluded) {
    lister.names = {"COM3", "CNCA0", "COM12", "COM3 (again)"};
    window().carga_coms();
    EXPECT_FALSE(window().Abrir_puerto(3)); // no such device here: ticked all the same
    EXPECT_EQ(link.state.com_port, 3);
    EXPECT_EQ(ticked(), (std::vector<int>{1, 4}));
    window().Abrir_puerto(0);
    EXPECT_EQ(ticked(), (std::vector<int>{0, 2}));

    lister.names = {"COM3"};
    window().carga_coms();
    window().Abrir_puerto(12);
    EXPECT_EQ(ticked(), std::vector<int>{3});
    EXPECT_FALSE(window().mncom[3]->isVisible());
}

TEST_F(WindowTest, ChoosingAPortItemOpensThePortOfItsNumber) {
    test_support::PtyPair& com7 = station(7);
    lister.names.push_back("CNCA0");
    window().carga_coms();
    window().mncom[1]->trigger(); // "COM7 (pts)"
    EXPECT_EQ(com7.read_available(500), "D");
    EXPECT_EQ(link.state.com_port, 7);
    EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
    EXPECT_EQ(ticked(), std::vector<int>{1});

    window().mncom[2]->trigger(); // CNCA0 behaves like "none"
    EXPECT_EQ(link.state.com_port, 0);
    EXPECT_FALSE(platform::is_open_handle(link.state.com_handle));
    EXPECT_EQ(ticked(), (std::vector<int>{0, 2}));

    window().mncom_Click(99); // no such item: nothing happens
    EXPECT_EQ(link.state.com_port, 0);
}

TEST_F(WindowTest, ShowJetFieldsTogglesHeightAndStoredValue) {
    window().Form_Load();
    EXPECT_EQ(stored("show_jet"), "<missing>");
    window().mnShowJet->trigger();
    EXPECT_TRUE(window().mnShowJet->isChecked());
    EXPECT_EQ(stored("show_jet"), "1");
    EXPECT_EQ(window().height(), px(3300));
    window().mnShowJet_Click();
    EXPECT_FALSE(window().mnShowJet->isChecked());
    EXPECT_EQ(stored("show_jet"), "0");
    EXPECT_EQ(window().height(), px(2300));
    EXPECT_EQ(window().width(), px(4245));
    EXPECT_EQ(stored("weather_com"), "<missing>");
}

TEST_F(WindowTest, AutoAndBothPicturesAskForTheDetectionDialog) {
    int asked = 0;
    window().open_detection = [&] { ++asked; };
    window().mnAuto->trigger();
    window().imgConectado_Click();
    QTest::mouseClick(window().imgDesconectado, Qt::LeftButton);
    EXPECT_EQ(asked, 3);
}

TEST_F(WindowTest, AutoShowsTheDetectionDialogModallyAndRestartsTheTick) {
    station(3);
    window().Form_Load();
    window().Timer1.start();
    QString title;
    // The dialog runs its first probe before it shows; close it once it is up.
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            title = dialog->windowTitle();
            dialog->close();
        }
    });
    watcher.start(50);
    window().mnAuto_Click();
    watcher.stop();
    EXPECT_EQ(title, "Automatic COM Port Detection");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(link.state.com_port, 3); // it was probing COM3 when it closed
    EXPECT_TRUE(window().Timer1.isActive());
}

TEST_F(WindowTest, EscapeFromEachBoxClosesTheWindowAndStoresThePort) {
    lister.names.clear();
    const char* boxes[] = {"txtHumidity", "txtPressure", "txtTemperature", "txtJetSize", "txtCorr"};
    const Qt::KeyboardModifiers held[] = {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier,
                                          Qt::AltModifier, Qt::ShiftModifier | Qt::ControlModifier};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(boxes[i]);
        put("weather_com", std::to_string(20 + i));
        w.reset();
        window().show();
        QApplication::setActiveWindow(&window());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
        put("weather_com", "junk");
        auto* box = window().findChild<QLineEdit*>(boxes[i]);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Escape, held[i]);
        EXPECT_FALSE(window().isVisible());
        EXPECT_EQ(stored("weather_com"), std::to_string(20 + i));
    }
}

TEST_F(WindowTest, OtherKeysDoNotClose) {
    window().show();
    QApplication::setActiveWindow(&window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QTest::keyClick(window().txtJetSize, Qt::Key_Q, Qt::ControlModifier);
    QTest::keyClick(window().txtJetSize, Qt::Key_Return);
    EXPECT_TRUE(window().isVisible());
}

TEST_F(WindowTest, ClosingStoresThePortAndClosesIt) {
    station(4);
    window().Form_Load();
    window().Abrir_puerto(4);
    ASSERT_TRUE(platform::is_open_handle(link.state.com_handle));
    window().close();
    EXPECT_EQ(stored("weather_com"), "4");
    EXPECT_EQ(link.state.com_handle, platform::no_handle);
}
