#include "frmNimbrel.h"

#include "air_data.h"
#include "display_numbers.h"
#include "frmAutoWeather.h"
#include "numeric_text.h"
#include "pictures.h"
#include "settings_store.h"
#include "weather.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QShortcut>

#include <algorithm>

namespace main_window {

namespace {

QRect twips_rect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// The system's sans-serif at the 8-point dialog size that the layout was drawn for; at the
// desktop's usual larger size the self-sizing labels would run into each other.
QFont dialog_font() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8);
    return font;
}

QFont reading_font() {
    QFont font = dialog_font();
    if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif")))
        font.setFamily(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(13.5);
    font.setBold(true);
    return font;
}

void paint_box(QLineEdit* box, QColor back, QColor text) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, back);
    palette.setColor(QPalette::Text, text);
    box->setPalette(palette);
}

const QColor black(0, 0, 0);
const QColor green(0, 255, 0);
const QColor grey(128, 128, 128);
const QColor light_grey(192, 192, 192);
const QColor window_back(240, 240, 255);

struct Row {
    const char* box_name;
    const char* caption;
    const char* text;
    int box_left, box_top, box_width, box_height;
    int label_top;
};

// The five rows from top to bottom, in tab order.
const Row rows[5] = {
    {"txtHumidity", "Humidity (%)", "-", 450, 120, 1155, 480, 210},
    {"txtPressure", "Pressure (mb)", "-", 450, 525, 1155, 480, 630},
    {"txtTemperature", "Temperature (\u00BAC)", "-", 450, 930, 1155, 480, 1020},
    {"txtJetSize", "Original Jet Size", "150", 750, 1560, 855, 285, 1620},
    {"txtCorr", "Calculated Jet Size", "", 750, 1860, 855, 285, 1890},
};

constexpr int label_left = 1680;
constexpr int client_width = 4245;
constexpr int client_height = 2220;
constexpr int height_with_jet = 3300;
constexpr int height_without_jet = 2300;

} // namespace

void StatusPicture::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        on_click)
        on_click();
}

frmNimbrel::frmNimbrel(weather::Link& link, platform::SettingsStore& store, QWidget* parent)
    : QMainWindow(parent), link_(link), store_(store) {
    setObjectName(QStringLiteral("frmNimbrel"));
    setWindowTitle(QStringLiteral("Travenor Nimbrel"));
    setFont(dialog_font());

    auto* client = new QWidget(this);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, window_back);
    client->setPalette(palette);
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    // Created in tab order: the five boxes take the focus in turn, labels never do.
    std::array<QLineEdit*, 5> boxes{};
    for (int i = 0; i < 5; ++i) {
        const Row& row = rows[i];
        const QString caption = QString::fromUtf8(row.caption);
        auto* box = new QLineEdit(QString::fromUtf8(row.text), client);
        box->setObjectName(QString::fromUtf8(row.box_name));
        box->setAccessibleName(caption);
        box->setGeometry(twips_rect(row.box_left, row.box_top, row.box_width, row.box_height));
        boxes[i] = box;
        label[i] = new QLabel(caption, client);
        label[i]->setObjectName(QStringLiteral("label(%1)").arg(i));
        label[i]->move(px(label_left), px(row.label_top));
        label[i]->adjustSize();
    }
    txtHumidity = boxes[0];
    txtPressure = boxes[1];
    txtTemperature = boxes[2];
    txtJetSize = boxes[3];
    txtCorr = boxes[4];
    for (auto* box : {txtHumidity, txtPressure, txtTemperature}) {
        box->setFont(reading_font());
        paint_box(box, grey, green);
    }
    paint_box(txtCorr, light_grey, txtCorr->palette().color(QPalette::Text));
    for (int i = 0; i + 1 < 5; ++i)
        setTabOrder(boxes[i], boxes[i + 1]);
    txtHumidity->setFocus();

    const auto make_picture = [&](const char* name, const char* accessible,
                                  const char* const* xpm) {
        auto* picture = new StatusPicture(client);
        picture->setObjectName(QString::fromUtf8(name));
        picture->setAccessibleName(QString::fromUtf8(accessible));
        picture->setPixmap(QPixmap(xpm));
        picture->setGeometry(twips_rect(3780, 60, 240, 240));
        return picture;
    };
    imgConectado = make_picture("imgConectado", "Connected", connected_xpm);
    imgDesconectado = make_picture("imgDesconectado", "Disconnected", disconnected_xpm);
    imgConectado->hide();
    imgConectado->on_click = [this] { imgConectado_Click(); };
    imgDesconectado->on_click = [this] { imgDesconectado_Click(); };

    mnoptions = menuBar()->addMenu(QStringLiteral("Options"));
    mnoptions->setObjectName(QStringLiteral("mnoptions"));
    mnoptions->setFont(font()); // a popup is a window of its own and takes no font from ours
    QAction* none = mnoptions->addAction(QStringLiteral("none"));
    none->setObjectName(QStringLiteral("mncom(0)"));
    none->setCheckable(true);
    connect(none, &QAction::triggered, this, [this] { mncom_Click(0); });
    mncom.push_back(none);
    port_names_.push_back("none");
    mn1 = mnoptions->addSeparator();
    mn1->setObjectName(QStringLiteral("mn1"));
    mnAuto = mnoptions->addAction(QStringLiteral("Auto"));
    mnAuto->setObjectName(QStringLiteral("mnAuto"));
    connect(mnAuto, &QAction::triggered, this, [this] { mnAuto_Click(); });
    mn2 = mnoptions->addSeparator();
    mn2->setObjectName(QStringLiteral("mn2"));
    mnShowJet = mnoptions->addAction(QStringLiteral("Show Jet Fields"));
    mnShowJet->setObjectName(QStringLiteral("mnShowJet"));
    mnShowJet->setCheckable(true);
    connect(mnShowJet, &QAction::triggered, this, [this] {
        // Qt has already flipped the tick of a checkable item; the handler does the flipping.
        mnShowJet->setChecked(!mnShowJet->isChecked());
        mnShowJet_Click();
    });

    // Escape closes the window whichever box has the focus and whatever modifiers are held.
    for (int held = 0; held < 8; ++held) {
        Qt::KeyboardModifiers modifiers;
        modifiers.setFlag(Qt::ShiftModifier, held & 1);
        modifiers.setFlag(Qt::ControlModifier, held & 2);
        modifiers.setFlag(Qt::AltModifier, held & 4);
        new QShortcut(QKeySequence(QKeyCombination(modifiers, Qt::Key_Escape)), this,
                      [this] { close(); });
    }

    for (auto* box : {txtHumidity, txtPressure, txtTemperature})
        connect(box, &QLineEdit::textChanged, this, [this] { calc_jet(); });

    // The client area is as wide and high as laid out; only fit_height changes the height.
    setFixedSize(px(client_width), menuBar()->sizeHint().height() + px(client_height));

    // Precise: the detection dialog's verdict tick must come before this timer's next tick,
    // which clears the pressure; a coarse timer may fire some tens of milliseconds early.
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer1.setInterval(2000);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    Timer1.start();

    // A new dialog at every opening, gone when it closes.
    open_detection = [this] {
        port_detection::frmAutoWeather dialog(link_, *this, this);
        dialog.exec();
    };
}

frmNimbrel::~frmNimbrel() = default;

void frmNimbrel::Form_Load() {
    loaded_ = true;
    show_link_picture(false);
    carga_coms();
    const std::string stored_port = store_.get(settings_app, settings_section, "weather_com", "1");
    Abrir_puerto(weather::to_port_number(weather::numeric_value(stored_port)));
    const std::string stored_jet = store_.get(settings_app, settings_section, "show_jet", "0");
    mnShowJet->setChecked(weather::numeric_value(stored_jet) == 1);
    fit_height();
    calc_jet();
}

void frmNimbrel::carga_coms() {
    std::vector<std::string> ports;
    link_.list_com_ports(ports);
    for (std::size_t i = 1; i < mncom.size(); ++i)
        mncom[i]->setVisible(false);
    // Item indexes are 16-bit; no machine lists that many ports.
    const std::size_t count = std::min<std::size_t>(ports.size(), 32767);
    for (std::size_t i = 1; i <= count; ++i) {
        std::string name = ports[i - 1];
        std::erase(name, '\0'); // a listed name may carry its terminating NUL
        if (i >= mncom.size()) {
            auto* item = new QAction(mnoptions);
            item->setObjectName(QStringLiteral("mncom(%1)").arg(i));
            item->setCheckable(true);
            connect(item, &QAction::triggered, this, [this, i] { mncom_Click(int(i)); });
            mnoptions->insertAction(mn1, item);
            mncom.push_back(item);
            port_names_.emplace_back();
        }
        port_names_[i] = name;
        QString caption = QString::fromLocal8Bit(name.data(), qsizetype(name.size()));
        mncom[i]->setText(caption.replace(QLatin1Char('&'), QStringLiteral("&&")));
        mncom[i]->setVisible(true);
    }
}

std::int16_t frmNimbrel::item_number(std::size_t index) const {
    return index < port_names_.size() ? weather::com_number(port_names_[index]) : 0;
}

bool frmNimbrel::Abrir_puerto(std::int16_t port) {
    const bool opened = link_.open_port(port);
    link_.poll_station();
    for (std::size_t i = 0; i < mncom.size(); ++i)
        mncom[i]->setChecked(item_number(i) == link_.state.com_port);
    return opened;
}

void frmNimbrel::mncom_Click(int index) {
    if (index < 0 || std::size_t(index) >= mncom.size())
        return;
    Abrir_puerto(item_number(std::size_t(index)));
}

void frmNimbrel::mnShowJet_Click() {
    mnShowJet->setChecked(!mnShowJet->isChecked());
    store_.save(settings_app, settings_section, "show_jet", mnShowJet->isChecked() ? "1" : "0");
    fit_height();
}

void frmNimbrel::stop_timer() {
    Timer1.stop();
}

void frmNimbrel::start_timer() {
    Timer1.start(); // restarts the countdown: the next tick comes a full interval later
}

void frmNimbrel::mnAuto_Click() {
    if (open_detection)
        open_detection();
}

void frmNimbrel::imgConectado_Click() {
    mnAuto_Click();
}

void frmNimbrel::imgDesconectado_Click() {
    mnAuto_Click();
}

void frmNimbrel::fit_height() {
    // The outer height counts the title bar and borders; the window system reports them once
    // the window is framed (under a bare X server there are none).
    frame_height_ = std::max(0, frameGeometry().height() - geometry().height());
    const int outer = px(mnShowJet->isChecked() ? height_with_jet : height_without_jet);
    setFixedHeight(std::max(1, outer - frame_height_));
}

void frmNimbrel::Timer1_Timer() {
    link_.poll_station();
    weather::LinkState& state = link_.state;
    if (state.com_port == 0) {
        show_link_picture(false);
        return;
    }
    const bool fresh = state.pressure != 0;
    for (auto* box : {txtHumidity, txtPressure, txtTemperature})
        paint_box(box, fresh ? black : grey, fresh ? green : black);
    show_reading(txtHumidity, state.humidity);
    show_reading(txtPressure, state.pressure);
    show_reading(txtTemperature, state.temperature);
    show_link_picture(state.link_kind > 0);
    calc_jet(); // the change handlers may not all have run: unchanged texts raise no change
    // The pressure doubles as the fresh-reading flag: this reading has now been shown.
    state.pressure = 0;
}

void frmNimbrel::calc_jet() {
    const double humidity = box_value(txtHumidity);
    const double pressure = box_value(txtPressure);
    const double temperature = box_value(txtTemperature);
    show_air_figures(humidity, pressure, temperature);
    const double correction =
        (humidity - 50) * -0.04 + (pressure - 1000) * 0.05 + (temperature - 20) * -0.25;
    if (!std::isfinite(correction))
        return; // numbers typed near the limits of a double: keep the last result
    const double jet = box_value(txtJetSize) + correction;
    if (!std::isfinite(jet))
        return;
    txtCorr->setText(QString::fromStdString(whole_number_text(round_half_even(jet))));
}

void frmNimbrel::show_air_figures(double humidity, double pressure, double temperature) {
    const QString figures = QString::fromStdString(air_data::describe(
        {temperature, pressure, humidity}, locale().decimalPoint().toStdString()));
    for (auto* box : {txtHumidity, txtPressure, txtTemperature, txtCorr})
        box->setToolTip(figures);
}

double frmNimbrel::box_value(const QLineEdit* box) const {
    return box_number(box->text().toStdString(), locale().decimalPoint().toStdString());
}

void frmNimbrel::show_reading(QLineEdit* box, float value) {
    box->setText(
        QString::fromStdString(format_reading(value, locale().decimalPoint().toStdString())));
}

void frmNimbrel::show_link_picture(bool connected) {
    if (connected_shown_ == connected)
        return;
    connected_shown_ = connected;
    setWindowIcon(QIcon(QPixmap(connected ? connected_xpm : disconnected_xpm)));
    imgConectado->setVisible(connected);
    imgDesconectado->setVisible(!connected);
}

void frmNimbrel::showEvent(QShowEvent* event) {
    if (!loaded_)
        Form_Load();
    QMainWindow::showEvent(event);
    // The frame is known only once the window system has put the window on screen.
    QTimer::singleShot(0, this, [this] { fit_height(); });
}

void frmNimbrel::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (loaded_ && frameGeometry().height() - geometry().height() != frame_height_)
        fit_height();
}

void frmNimbrel::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    event->accept();
}

void frmNimbrel::Form_QueryUnload() {
    store_.save(settings_app, settings_section, "weather_com",
                std::to_string(link_.state.com_port));
    link_.close_port();
}

} // namespace main_window
