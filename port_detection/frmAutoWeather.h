// The port detection dialog: lists the machine's serial ports and probes them one after another,
// one port per tick of its own timer, until a station answers on one of them. It sees the main
// window only through DetectionHost and the station link through the shared weather::Link.
#pragma once

#include "desktop.h"
#include "detection_host.h"
#include "form.h"
#include "weather.h"

#include <cstdint>
#include <string>

namespace port_detection {

class frmAutoWeather : public window_system::Form {
public:
    frmAutoWeather(window_system::Desktop& desktop, weather::Link& link, DetectionHost& host);

    // --- Controls, in tab order ---
    window_system::Button& cmdAgain;
    window_system::Button& cmdClose;
    window_system::Label& lblstatus;
    // The column of port labels, numbered from 1 like the port list. Each label's tag holds
    // its port number (weather::Link::port_number) as decimal text.
    window_system::ControlArray<window_system::Label> lblCOM{*this, "lblCOM", 1};
    window_system::Timer& Timer1;

private:
    void Form_Load();
    void Form_KeyDown(int key, int shift);
    void Form_Unload();
    void start_scan();
    void probe_next();
    void Timer1_Timer();
    void cmdClose_Click();
    void cmdAgain_Click();
    std::string probe_name_of(const window_system::Label& label) const;

    weather::Link& link_;
    DetectionHost& host_;

    std::int16_t scan_index = 0;
    window_system::Label* probe_label = nullptr; // the label whose verdict the next tick gives
    std::string probe_name;
    bool scan_done = false;
};

} // namespace port_detection
