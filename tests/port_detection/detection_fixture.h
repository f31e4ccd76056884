// What the detection dialog is tested against: stations on pseudo-terminals, a stand-in for the
// main window that behaves like it towards the dialog, and a fresh isolated port map per test.
// The dialog's ticks are delivered by the tests; only the probes' 1000 ms pauses take time.
#pragma once

#include "detection_host.h"
#include "frmAutoWeather.h"
#include "listed_ports.h"
#include "posix_ports.h"
#include "pty_pair.h"
#include "weather.h"

#include <QTimer>

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace detection_test {

// A station on a pseudo-terminal: answers every poll byte with `reply`, or stays silent when
// the reply is empty.
class Station {
public:
    explicit Station(std::string reply);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;
    const std::string& path() const { return pty_.slave_path(); }

private:
    test_support::PtyPair pty_;
    std::string reply_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The main window as the dialog sees it: Abrir_puerto opens and polls through the real link,
// and its polling timer ticks every 2000 ms, polls and clears the pressure like the display
// tick does. Every call is logged.
class TestHost : public port_detection::DetectionHost {
public:
    explicit TestHost(weather::Link& link);

    void carga_coms() override;
    bool Abrir_puerto(std::int16_t port) override;
    void stop_timer() override;
    void start_timer() override;

    std::vector<std::string> log;
    std::function<void()> on_stop_timer;
    std::function<void()> on_start_timer;
    std::function<void(std::int16_t)> on_open; // after the open and the poll
    QTimer main_timer;

private:
    weather::Link& link_;
};

using test_support::ListedPorts;

class Detection : public ::testing::Test {
protected:
    void add_port(int n, const Station& station);
    void remove_port(int n);

    test_support::TempDir dir;
    platform::PosixPaths paths = test_support::isolated_paths(dir);
    std::unique_ptr<platform::SerialPort> port = platform::make_posix_serial_port(paths);
    std::unique_ptr<platform::PortLister> lister = platform::make_posix_port_lister(paths);
    weather::Link link{*port, *lister};
    TestHost host{link};
};

// Reading the dialog as the user sees it.
QLabel* status_line(const QDialog& dialog);
port_detection::PortLabel* port_label(const QDialog& dialog, int index);
std::string caption(const QLabel* label);
QColor fore_colour(const QLabel* label);
QPushButton* button(const QDialog& dialog, const char* name);
QTimer* dialog_timer(const QDialog& dialog);
// Delivers one tick of the dialog's timer now, as if it had fallen due, so that a scan runs
// without waiting three seconds a port. False, and nothing happens, when the timer is stopped.
bool tick(const QDialog& dialog);
// Asks for a tick of the dialog's timer as the next event, to be delivered by whatever
// processes events next (the probe's event pump, for instance).
void post_tick(const QDialog& dialog);

} // namespace detection_test
