#include "frmAutoWeather.h"

#include "auto_weather_icon.h"
#include "numeric_text.h"
#include "pause.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace port_detection {

namespace {

// Positions are laid out in twips, 15 to a pixel at 96 dots per inch.
constexpr int px(int twips) {
    return (twips + 7) / 15;
}

constexpr int layout_interval_ms = 2000;
constexpr int scan_interval_ms = 3000; // one port per tick
constexpr int close_after_ms = 4000;   // the found port stays on screen this long
constexpr int settle_ms = 1000;        // time a station gets to answer the probe's poll

// The tops of the port labels are computed in 16 bits: label 107 is the last that fits.
constexpr std::size_t max_port_labels = 107;

const QColor black(0, 0, 0);
const QColor grey(128, 128, 128);
const QColor red(255, 0, 0);
const QColor green(0, 255, 0);
const QColor no_reply_colour(2, 0, 0); // shows as black, set apart from the red of a failure

void set_fore_colour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

void set_bold(QLabel* label, bool bold) {
    QFont f = label->font();
    f.setBold(bold);
    label->setFont(f);
    label->adjustSize();
}

// Labels size themselves to their caption, growing to the right.
void set_caption(QLabel* label, const QString& caption) {
    label->setText(caption);
    label->adjustSize();
}

void set_caption(QLabel* label, const std::string& caption) {
    set_caption(label, QString::fromStdString(caption));
}

// A listed name as a one-line caption: it ends at a NUL (listed names may carry one) and any
// other control character shows as a blank.
QString shown_name(const std::string& name) {
    std::string text = name.substr(0, name.find('\0'));
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
    return QString::fromLocal8Bit(text);
}

std::int16_t port_of(const PortLabel* label) {
    return weather::to_port_number(weather::numeric_value(label->tag));
}

} // namespace

PortLabel* LabelArray::load(int index, QWidget* parent) {
    while (count() < index) {
        auto* label = new PortLabel(parent);
        label->setObjectName(QStringLiteral("lblCOM(%1)").arg(count() + 1));
        label->setTextFormat(Qt::PlainText); // a port name is never markup
        items_.push_back(label);
    }
    return (*this)[index];
}

frmAutoWeather::frmAutoWeather(weather::Link& link, DetectionHost& host, QWidget* parent)
    : QDialog(parent), link_(link), host_(host) {
    setObjectName(QStringLiteral("frmAutoWeather"));
    setWindowTitle(QStringLiteral("Automatic COM Port Detection"));
    setWindowIcon(auto_weather_icon());
    setFixedSize(px(4950), px(5190));
    // The layout is measured for an 8-point font: at the usual 9 or 10 points the longest status
    // text would run past the right edge.
    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    cmdAgain = new QPushButton(QStringLiteral("Again"), this);
    cmdAgain->setObjectName(QStringLiteral("cmdAgain"));
    cmdAgain->setGeometry(px(1020), px(4440), px(1245), px(525));
    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setGeometry(px(2580), px(4440), px(1245), px(525));
    setTabOrder(cmdAgain, cmdClose);

    lblstatus = new QLabel(this);
    lblstatus->setObjectName(QStringLiteral("lblstatus"));
    lblstatus->setTextFormat(Qt::PlainText);
    lblstatus->move(px(300), px(240));
    set_caption(lblstatus, QStringLiteral("..."));

    PortLabel* first = lblCOM.load(1, this);
    first->move(px(240), px(690));
    set_caption(first, QStringLiteral("COM1"));
    set_fore_colour(first, grey);

    // The dialog sees key presses before its buttons (key preview): a button held down would
    // otherwise take Escape for itself.
    cmdAgain->installEventFilter(this);
    cmdClose->installEventFilter(this);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    // A coarse timer may fire up to 5 % late; the verdict has only tens of milliseconds before
    // the main window's tick clears the pressure.
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(layout_interval_ms); // started, with the scan's interval, by the load
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    connect(cmdAgain, &QPushButton::clicked, this, [this] { cmdAgain_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
}

void frmAutoWeather::setVisible(bool visible) {
    if (visible && !loaded_) {
        Form_Load();
        if (QScreen* s = screen())
            move(s->availableGeometry().center() - rect().center());
    }
    QDialog::setVisible(visible);
}

void frmAutoWeather::done(int result) {
    if (loaded_)
        Form_Unload();
    QDialog::done(result);
}

void frmAutoWeather::keyPressEvent(QKeyEvent* event) {
    if (!Form_KeyDown(event->key(), event->modifiers()))
        QDialog::keyPressEvent(event);
}

bool frmAutoWeather::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (Form_KeyDown(key->key(), key->modifiers()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmAutoWeather::Form_Load() {
    loaded_ = true;
    link_.state.com_port = 0;
    start_scan();
}

void frmAutoWeather::start_scan() {
    host_.carga_coms();
    Timer1->start(scan_interval_ms);
    scan_done = false;
    probe_label = nullptr;
    set_caption(lblstatus, QStringLiteral("Checking COM ports, please wait..."));
    set_fore_colour(lblstatus, black);
    set_bold(lblstatus, false);

    for (int i = 1; i <= lblCOM.count(); ++i)
        lblCOM[i]->setVisible(false);

    std::vector<std::string> ports;
    link_.list_com_ports(ports);
    // Ports past the last label that fits are left out of the scan.
    const auto n = static_cast<std::int16_t>(std::min(ports.size(), max_port_labels));
    for (std::int16_t i = 1; i <= n; ++i) {
        const std::string& name = ports[static_cast<std::size_t>(i - 1)];
        PortLabel* label = lblCOM.load(i, this);
        label->move(px(240), px(i * 300 + 400));
        set_caption(label, shown_name(name));
        label->tag = std::to_string(weather::com_number(name));
        set_fore_colour(label, grey);
        label->setVisible(true);
    }

    scan_index = 1;
    probe_next();
}

// Escape closes the dialog whatever the modifiers, but only once it is on the screen: closed
// during its load, before the first show, a modal dialog would never show and never return.
bool frmAutoWeather::Form_KeyDown(int key, Qt::KeyboardModifiers /*shift*/) {
    if (key != Qt::Key_Escape)
        return false;
    if (isVisible())
        reject();
    return true;
}

// The dialog's own timer goes with it; the main window's timer and the port opened last are
// left as they are.
void frmAutoWeather::Form_Unload() {
    loaded_ = false;
    tick_held_ = false;
    Timer1->stop();
}

void frmAutoWeather::probe_next() {
    cmdAgain->setEnabled(false);
    if (scan_index > lblCOM.count()) {
        set_caption(lblstatus, QStringLiteral("NOT DETECTED. Close all programs and check again."));
        set_fore_colour(lblstatus, red);
        Timer1->stop();
        cmdAgain->setEnabled(true);
        host_.Abrir_puerto(0);
        return;
    }
    probe_label = lblCOM[scan_index];
    probe_name = "COM" + probe_label->tag;
    set_caption(probe_label, probe_name + "   (opening)");

    // The main window must not poll the port while the probe uses it; restarting its timer
    // afterwards also puts its next tick, which clears the pressure, after this probe's verdict.
    host_.stop_timer();
    probing_ = true;
    if (host_.Abrir_puerto(port_of(probe_label))) {
        set_caption(probe_label, probe_name + "   (communicating)");
        probe_label->repaint(); // shown during the wait, not only after it
        platform::pause_ms(settle_ms);
        // Escape or "Close" may close the dialog in this pump, and its owner may delete it as
        // soon as it has closed; the probe still ends as usual, on the link and the host alone.
        weather::Link& link = link_;
        DetectionHost& host = host_;
        const QPointer<frmAutoWeather> alive(this);
        pump_events();
        // A reply that came after the poll's first quiet 10 ms waits in the input queue.
        link.read_station();
        if (!alive) {
            host.start_timer();
            return;
        }
    } else {
        set_caption(probe_label, probe_name + "   (failed)");
        set_fore_colour(probe_label, red);
        probe_label = nullptr;
    }
    host_.start_timer();
    probing_ = false;

    if (tick_held_) {
        tick_held_ = false;
        QTimer::singleShot(0, this, [this] { Timer1_Timer(); });
    }
}

void frmAutoWeather::Timer1_Timer() {
    if (!loaded_)
        return; // a held tick of a dialog that has closed since
    if (probing_) {
        // Only a probe that took longer than the interval gets here, through the event pump.
        // Judging now would probe the next port inside this one.
        tick_held_ = true;
        return;
    }
    if (scan_done) {
        accept();
        return;
    }
    ++scan_index;
    if (probe_label == nullptr) {
        probe_next();
        return;
    }
    // The main window's tick would clear the pressure, but it was restarted at the end of the
    // probe and falls due after this one.
    if (link_.state.pressure != 0) {
        set_caption(probe_label, probe_name + "   Connected");
        set_fore_colour(probe_label, green);
        set_caption(lblstatus, "COMMUNICATION DONE IN COM " + probe_label->tag);
        set_bold(lblstatus, true);
        set_fore_colour(lblstatus, green);
        Timer1->start(close_after_ms);
        scan_done = true;
        host_.start_timer();
        cmdAgain->setEnabled(true);
        link_.state.com_port = port_of(probe_label);
        return;
    }
    set_caption(probe_label, probe_name + "   (no reply)");
    set_fore_colour(probe_label, no_reply_colour);
    probe_next();
}

void frmAutoWeather::cmdClose_Click() {
    reject();
}

void frmAutoWeather::cmdAgain_Click() {
    start_scan();
}

// One pass over what is pending: repaints, and a click on "Close" or Escape. Before the dialog
// is on the screen (the first probe runs in the load handling) user input is left queued: the
// main window is not yet blocked by the modal dialog and must not act on it.
void frmAutoWeather::pump_events() {
    QCoreApplication::processEvents(isVisible() ? QEventLoop::AllEvents
                                                : QEventLoop::ExcludeUserInputEvents);
}

} // namespace port_detection
