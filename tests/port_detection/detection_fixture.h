// The detection dialog on the headless backend, against scripted ports and a stand-in for the
// main window that behaves like it towards the dialog: Abrir_puerto opens and polls through the
// real link, and its Timer1 ticks every 2000 ms, polls and clears the pressure as the display
// tick does. Every call the dialog makes of it is logged with the time.
#pragma once

#include "desktop.h"
#include "detection_host.h"
#include "frmAutoWeather.h"
#include "headless.h"
#include "scripted_stations.h"
#include "weather.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace detection_test {

class TestHost : public window_system::Form, public port_detection::DetectionHost {
public:
    TestHost(window_system::Desktop& desktop, weather::Link& link)
        : Form(desktop, "frmNimbrel"), Timer1(add_timer("Timer1")), link_(link) {
        Timer1.on_timer = [this] {
            link_.poll_station();
            if (link_.state.com_port != 0)
                link_.state.pressure = 0;
            note("tick");
        };
        Timer1.set_interval(2000);
        Timer1.set_enabled(true);
        show();
    }

    void carga_coms() override { note("carga_coms"); }
    bool Abrir_puerto(std::int16_t port) override {
        const bool ok = link_.open_port(port);
        link_.poll_station();
        note("Abrir_puerto " + std::to_string(port) + (ok ? "" : " failed"));
        if (on_open)
            on_open(port);
        return ok;
    }
    void stop_timer() override {
        Timer1.set_enabled(false);
        note("stop_timer");
    }
    void start_timer() override {
        Timer1.set_enabled(true);
        note("start_timer");
    }

    window_system::Timer& Timer1;
    // "<time> <what>" for every call of the dialog and every tick of Timer1.
    std::vector<std::string> log;
    std::function<void(std::int16_t)> on_open; // after the open and the poll

private:
    void note(const std::string& what) {
        log.push_back(std::to_string(desktop().now()) + " " + what);
    }
    weather::Link& link_;
};

class Detection : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(backend.left_open, 0) << "the dialog was left open"; }

    // Shows a new dialog modally; `script` acts on it as the user would, inside its loop.
    void run(const std::function<void(port_detection::frmAutoWeather&)>& script) {
        port_detection::frmAutoWeather dialog(desktop, link, host);
        backend.on_modal = [&](window_system::Form&) { script(dialog); };
        dialog.show_modal();
    }
    // The log, without the ticks of the stand-in's timer.
    std::vector<std::string> calls() const {
        std::vector<std::string> out;
        for (const auto& line : host.log)
            if (line.find(" tick") == std::string::npos)
                out.push_back(line);
        return out;
    }

    window_system::headless::Backend backend;
    window_system::Desktop desktop{backend};
    test_support::ScriptedStations ports;
    weather::Link link{ports, ports};
    TestHost host{desktop, link};
};

} // namespace detection_test
