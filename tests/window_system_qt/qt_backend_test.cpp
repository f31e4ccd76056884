// The Qt backend on Qt's offscreen platform: what the model holds reaches the real widgets.
#include "backend.h"
#include "frmNimbrel.h"
#include "pictures.h"
#include "scripted_stations.h"
#include "settings_store.h"
#include "temp_dir.h"
#include "weather.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace window_system;

namespace {

int px(Twips t) {
    return to_pixels(t);
}

class QtBackend : public ::testing::Test {
protected:
    void SetUp() override {
        ports.add(1);
        ports.add(3, "", "COM3 & more");
        window.log_folder = dir.path() + "/logs";
        window.show();
        top = backend.window_of(window);
        ASSERT_NE(top, nullptr);
        QApplication::setActiveWindow(top);
        ASSERT_TRUE(QTest::qWaitForWindowActive(top));
    }
    template <class T> T* find(const char* name) { return top->findChild<T*>(name); }
    QStringList menu_items() {
        QStringList items;
        for (QAction* a : find<QMenu>("mnoptions")->actions())
            if (a->isVisible())
                items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return items;
    }

    qt::Backend backend;
    Desktop desktop{backend};
    test_support::ScriptedStations ports;
    weather::Link link{ports, ports};
    test_support::TempDir dir;
    std::unique_ptr<platform::SettingsStore> store =
        platform::make_file_settings_store(dir.path() + "/settings.conf");
    main_window::frmNimbrel window{desktop, link, *store};
    QWidget* top = nullptr;
};

} // namespace

TEST_F(QtBackend, TheWidgetsShowTheModelsGeometryColoursFontsAndNames) {
    EXPECT_EQ(top->windowTitle(), "Travenor Nimbrel");
    EXPECT_EQ(top->width(), px(4245));
    // Below the menu bar, the reading rows to their end at 1410 twips and no more.
    auto* client = static_cast<QMainWindow*>(top)->centralWidget();
    EXPECT_EQ(client->height(), px(1410));
    auto* humidity = find<QLineEdit>("txtHumidity");
    ASSERT_NE(humidity, nullptr);
    EXPECT_EQ(humidity->geometry(), QRect(px(450), px(120), px(1155), px(480)));
    EXPECT_EQ(humidity->palette().color(QPalette::Base), QColor(128, 128, 128));
    EXPECT_EQ(humidity->palette().color(QPalette::Text), QColor(0, 255, 0));
    EXPECT_TRUE(humidity->font().bold());
    EXPECT_DOUBLE_EQ(humidity->font().pointSizeF(), 13.5);
    EXPECT_EQ(humidity->accessibleName(), "Humidity (%)");
    EXPECT_DOUBLE_EQ(find<QLineEdit>("txtJetSize")->font().pointSizeF(), 8);
    EXPECT_EQ(find<QLineEdit>("txtCorr")->palette().color(QPalette::Base), QColor(192, 192, 192));
    auto* row3 = find<QLabel>("label(2)");
    EXPECT_EQ(row3->text(), QString::fromUtf8("Temperature (\u00BAC)"));
    EXPECT_EQ(row3->pos(), QPoint(px(1680), px(1020)));
    EXPECT_GT(row3->width(), find<QLabel>("label(0)")->width()); // sized to its caption

    auto* connected = find<QLabel>("imgConectado");
    auto* disconnected = find<QLabel>("imgDesconectado");
    EXPECT_EQ(connected->accessibleName(), "Connected");
    EXPECT_EQ(disconnected->geometry(), QRect(px(3780), px(60), px(240), px(240)));
    EXPECT_FALSE(connected->isVisible());
    EXPECT_EQ(top->windowIcon().pixmap(16, 16).toImage().pixel(0, 0), 0xFFFF0000u); // red

    // Changes made on the model reach the widgets.
    window.txtHumidity.set_back_colour(colours::black);
    window.txtHumidity.set_text("52.5");
    window.imgConectado.set_visible(true);
    window.mnShowJet.click();
    EXPECT_EQ(humidity->palette().color(QPalette::Base), QColor(0, 0, 0));
    EXPECT_EQ(humidity->text(), "52.5");
    EXPECT_TRUE(connected->isVisible());
    EXPECT_EQ(client->height(), px(2415));
    EXPECT_EQ(top->width(), px(4245));
    // Typing is the user's change: it reaches the model and its change event.
    QTest::keyClicks(find<QLineEdit>("txtPressure"), "1000");
    EXPECT_EQ(window.txtPressure.text(), "-1000");
    EXPECT_EQ(window.txtCorr.text(), find<QLineEdit>("txtCorr")->text().toStdString());
}

TEST_F(QtBackend, TextPutInThroughTheAccessibilityInterfaceReachesTheFormAndTheJetSize) {
    // As a screen reader, dictation or an on-screen keyboard puts text into a box: as its
    // value, or as an edit of its text.
    using Put = void (*)(QAccessibleInterface&, const QString&);
    const Put as_value = [](QAccessibleInterface& a, const QString& t) {
        a.setText(QAccessible::Value, t);
    };
    const Put as_replaced = [](QAccessibleInterface& a, const QString& t) {
        a.editableTextInterface()->replaceText(0, a.textInterface()->characterCount(), t);
    };
    const Put as_typed_in = [](QAccessibleInterface& a, const QString& t) {
        a.editableTextInterface()->deleteText(0, a.textInterface()->characterCount());
        a.editableTextInterface()->insertText(0, t);
    };
    const struct {
        TextBox& box;
        Put put;
        const char* text;
    } cases[] = {{window.txtHumidity, as_value, "65.0"},
                 {window.txtPressure, as_replaced, "985.3"},
                 {window.txtTemperature, as_typed_in, "27.4"}};
    for (const auto& c : cases) {
        QAccessibleInterface* a =
            QAccessible::queryAccessibleInterface(find<QLineEdit>(c.box.name().c_str()));
        ASSERT_TRUE(a && a->editableTextInterface() && a->textInterface()) << c.box.name();
        c.put(*a, QString::fromUtf8(c.text));
        EXPECT_EQ(c.box.text(), c.text);
    }
    // 150 corrected for 65 %, 985.3 mbar and 27.4 degrees.
    EXPECT_EQ(window.txtCorr.text(), "147");
    EXPECT_EQ(find<QLineEdit>("txtCorr")->text(), "147");
}

TEST_F(QtBackend, MenuItemsFollowTheModelsTicksAndPlacesAndFlipOncePerTrigger) {
    const QStringList log_items{
        "-", "History", "Mark Run",     "Log Readings",       "Open Log Folder",
        "-", "Engines", "Set Baseline", "Correction Standard"};
    EXPECT_EQ(menu_items(),
              QStringList({"none", "COM1", "COM3 && more", "-", "Auto", "-", "Show Jet Fields"}) +
                  log_items);
    EXPECT_TRUE(find<QAction>("mncom(1)")->isChecked());
    EXPECT_FALSE(find<QAction>("mnAuto")->isCheckable());
    ports.names = {"COM9"};
    window.carga_coms();
    EXPECT_EQ(menu_items(),
              QStringList({"none", "COM9", "-", "Auto", "-", "Show Jet Fields"}) + log_items);
    ports.names = {"COM9", "COM7", "COM5"};
    window.carga_coms();
    EXPECT_EQ(menu_items(),
              QStringList({"none", "COM9", "COM7", "COM5", "-", "Auto", "-", "Show Jet Fields"}) +
                  log_items);
    find<QAction>("mnShowJet")->trigger();
    EXPECT_TRUE(window.mnShowJet.checked());
    EXPECT_TRUE(find<QAction>("mnShowJet")->isChecked());
}

TEST_F(QtBackend, TabGoesThroughTheFiveBoxesAndEscapeFromAnyOfThemCloses) {
    const char* order[] = {"txtHumidity", "txtPressure", "txtTemperature",
                           "txtJetSize",  "txtCorr",     "txtHumidity"};
    EXPECT_EQ(QApplication::focusWidget(), find<QLineEdit>(order[0]));
    for (int i = 1; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), order[i]) << "after tab " << i;
    }
    QTest::keyClick(find<QLineEdit>("txtJetSize"), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(window.loaded());
    find<QLineEdit>("txtCorr")->setFocus();
    QTest::keyClick(find<QLineEdit>("txtCorr"), Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_FALSE(window.loaded());
    EXPECT_EQ(store->get("KORVANE_1", "main", "weather_com", ""), "1");
}

TEST_F(QtBackend, TheDetectionDialogIsModalCentredAndOwnedByTheMainWindow) {
    QWidget* dialog = nullptr;
    QRect where;
    bool modal = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QWidget* up = QApplication::activeModalWidget()) {
            dialog = up;
            where = up->geometry();
            modal = up->isModal();
            EXPECT_EQ(up->parentWidget(), top);
            EXPECT_EQ(up->findChild<QPushButton*>("cmdClose")->text(), "Close");
            QTest::keyClick(up->findChild<QPushButton*>("cmdClose"), Qt::Key_Escape);
        }
    });
    watcher.start(50);
    QTest::mouseClick(find<QLabel>("imgDesconectado"), Qt::LeftButton);
    watcher.stop();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(modal);
    EXPECT_EQ(where.size(), QSize(px(4950), px(5190)));
    // Centred before it is framed: off by no more than the frame's width.
    EXPECT_LE((where.center() - top->screen()->availableGeometry().center()).manhattanLength(), 8);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(window.loaded());
}
