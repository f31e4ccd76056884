#include "detection_fixture.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTimerEvent>

#include <filesystem>

namespace detection_test {

Station::Station(std::string reply) : reply_(std::move(reply)) {
    thread_ = std::thread([this] {
        while (!stop_) {
            for (char c : pty_.read_available(20))
                if (c == 'D' && !reply_.empty())
                    pty_.write(reply_);
        }
    });
}

Station::~Station() {
    stop_ = true;
    thread_.join();
}

TestHost::TestHost(weather::Link& link) : link_(link) {
    main_timer.setTimerType(Qt::PreciseTimer);
    main_timer.setInterval(2000);
    QObject::connect(&main_timer, &QTimer::timeout, [this] {
        link_.poll_station();
        if (link_.state.com_port != 0)
            link_.state.pressure = 0;
    });
    main_timer.start();
}

void TestHost::carga_coms() {
    log.push_back("carga_coms");
}

bool TestHost::Abrir_puerto(std::int16_t port) {
    const bool ok = link_.open_port(port);
    link_.poll_station();
    log.push_back("Abrir_puerto " + std::to_string(port) + (ok ? "" : " failed"));
    if (on_open)
        on_open(port);
    return ok;
}

void TestHost::stop_timer() {
    main_timer.stop();
    log.push_back("stop_timer");
    if (on_stop_timer)
        on_stop_timer();
}

void TestHost::start_timer() {
    main_timer.start();
    log.push_back("start_timer");
    if (on_start_timer)
        on_start_timer();
}

void Detection::add_port(int n, const Station& station) {
    test_support::link_port(paths.port_map, n, station.path());
}

void Detection::remove_port(int n) {
    std::filesystem::remove(paths.port_map + "/COM" + std::to_string(n));
}

QLabel* status_line(const QDialog& dialog) {
    return dialog.findChild<QLabel*>("lblstatus");
}

port_detection::PortLabel* port_label(const QDialog& dialog, int index) {
    return dialog.findChild<port_detection::PortLabel*>(QStringLiteral("lblCOM(%1)").arg(index));
}

std::string caption(const QLabel* label) {
    return label ? label->text().toStdString() : "<no label>";
}

QColor fore_colour(const QLabel* label) {
    return label->palette().color(QPalette::WindowText);
}

QPushButton* button(const QDialog& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(name);
}

QTimer* dialog_timer(const QDialog& dialog) {
    return dialog.findChild<QTimer*>("Timer1");
}

bool tick(const QDialog& dialog) {
    QTimer* timer = dialog_timer(dialog);
    if (!timer->isActive())
        return false;
    QTimerEvent due(timer->timerId());
    QCoreApplication::sendEvent(timer, &due);
    return true;
}

void post_tick(const QDialog& dialog) {
    QTimer* timer = dialog_timer(dialog);
    QCoreApplication::postEvent(timer, new QTimerEvent(timer->timerId()));
}

} // namespace detection_test
