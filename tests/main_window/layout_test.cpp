// The main window as it is created, before any start-up handling.
#include "pictures.h"
#include "window_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>

using main_window::px;

namespace {

QColor base_of(const QLineEdit* box) {
    return box->palette().color(QPalette::Base);
}
QColor text_of(const QLineEdit* box) {
    return box->palette().color(QPalette::Text);
}

} // namespace

TEST_F(WindowTest, IsCreatedWithTheLaidOutBoxesLabelsAndPictures) {
    main_window::frmNimbrel& f = window();
    EXPECT_EQ(f.objectName(), "frmNimbrel");
    EXPECT_EQ(f.windowTitle(), "Travenor Nimbrel");
    EXPECT_EQ(f.width(), px(4245));
    EXPECT_EQ(f.height() - f.menuBar()->sizeHint().height(), px(2220));

    const struct {
        QLineEdit* box;
        const char* name;
        const char* text;
        QRect twips;
        const char* caption;
        int label_top;
    } rows[] = {
        {f.txtHumidity, "txtHumidity", "-", {450, 120, 1155, 480}, "Humidity (%)", 210},
        {f.txtPressure, "txtPressure", "-", {450, 525, 1155, 480}, "Pressure (mb)", 630},
        {f.txtTemperature, "txtTemperature", "-", {450, 930, 1155, 480}, "Temperature (ºC)", 1020},
        {f.txtJetSize, "txtJetSize", "150", {750, 1560, 855, 285}, "Original Jet Size", 1620},
        {f.txtCorr, "txtCorr", "", {750, 1860, 855, 285}, "Calculated Jet Size", 1890},
    };
    for (int i = 0; i < 5; ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.box->objectName(), row.name);
        EXPECT_EQ(row.box->text(), row.text);
        EXPECT_EQ(row.box->geometry(), QRect(px(row.twips.x()), px(row.twips.y()),
                                             px(row.twips.width()), px(row.twips.height())));
        EXPECT_EQ(row.box->accessibleName(), QString::fromUtf8(row.caption));
        EXPECT_FALSE(row.box->isReadOnly());
        EXPECT_EQ(f.label[i]->objectName(), QStringLiteral("label(%1)").arg(i));
        EXPECT_EQ(f.label[i]->text(), QString::fromUtf8(row.caption));
        EXPECT_EQ(f.label[i]->pos(), QPoint(px(1680), px(row.label_top)));
        EXPECT_GT(f.label[i]->width(), 0); // sized to the caption
        EXPECT_LT(f.label[i]->height(), px(480));
    }
    EXPECT_TRUE(f.label[2]->text().contains(QChar(0x00BA))); // not the degree sign
    EXPECT_FALSE(f.label[2]->text().contains(QChar(0x00B0)));

    for (QLineEdit* box : {f.txtHumidity, f.txtPressure, f.txtTemperature}) {
        EXPECT_EQ(base_of(box), QColor(128, 128, 128));
        EXPECT_EQ(text_of(box), QColor(0, 255, 0));
        EXPECT_TRUE(box->font().bold());
        EXPECT_DOUBLE_EQ(box->font().pointSizeF(), 13.5);
    }
    EXPECT_EQ(base_of(f.txtCorr), QColor(192, 192, 192));
    EXPECT_DOUBLE_EQ(f.txtJetSize->font().pointSizeF(), 8);
    EXPECT_DOUBLE_EQ(f.label[0]->font().pointSizeF(), 8);

    const QRect picture(px(3780), px(60), px(240), px(240));
    EXPECT_EQ(f.imgConectado->geometry(), picture);
    EXPECT_EQ(f.imgDesconectado->geometry(), picture);
    EXPECT_EQ(f.imgConectado->accessibleName(), "Connected");
    EXPECT_EQ(f.imgDesconectado->accessibleName(), "Disconnected");
    EXPECT_EQ(f.imgConectado->pixmap().toImage(), QPixmap(main_window::connected_xpm).toImage());
    EXPECT_EQ(f.imgDesconectado->pixmap().toImage(),
              QPixmap(main_window::disconnected_xpm).toImage());
}

TEST_F(WindowTest, TimerRunsEveryTwoSecondsFromCreation) {
    main_window::frmNimbrel created(link, *store);
    EXPECT_TRUE(created.Timer1.isActive());
    EXPECT_EQ(created.Timer1.interval(), 2000);
}

TEST_F(WindowTest, OptionsMenuHoldsNoneAutoAndShowJetWithSeparators) {
    main_window::frmNimbrel& f = window();
    const auto menus = f.menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), "Options");
    QStringList items;
    for (QAction* a : f.mnoptions->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(items, QStringList({"none", "-", "Auto", "-", "Show Jet Fields"}));
    EXPECT_EQ(f.mncom.size(), 1u);
    EXPECT_EQ(f.mncom[0]->objectName(), "mncom(0)");
    EXPECT_TRUE(f.mncom[0]->isCheckable());
    EXPECT_TRUE(f.mnShowJet->isCheckable());
    EXPECT_FALSE(f.mnShowJet->isChecked());
    EXPECT_EQ(f.item_number(0), 0); // "none" holds no number
}

TEST_F(WindowTest, TabMovesThroughTheFiveBoxesOnly) {
    lister.names.clear();
    put("weather_com", "0");
    main_window::frmNimbrel& f = window();
    f.show();
    QApplication::setActiveWindow(&f);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    const QWidget* order[] = {f.txtHumidity, f.txtPressure, f.txtTemperature,
                              f.txtJetSize,  f.txtCorr,     f.txtHumidity};
    EXPECT_EQ(QApplication::focusWidget(), order[0]);
    for (int i = 1; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), order[i]) << "after tab " << i;
    }
}
