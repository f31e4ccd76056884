#include "frmAutoWeather.h"

#include "auto_weather_icon.h"
#include "numeric_text.h"
#include "system_text.h"

#include <algorithm>
#include <vector>

namespace port_detection {

using namespace window_system;

namespace {

constexpr int layout_interval_ms = 2000;
constexpr int scan_interval_ms = 3000; // one port per tick
constexpr int close_after_ms = 4000;   // the found port stays on screen this long
constexpr int settle_ms = 1000;        // time a station gets to answer the probe's poll

// The tops of the port labels are computed in 16 bits: label 107 is the last that fits.
constexpr std::size_t max_port_labels = 107;

// Red component 2: shows as black, set apart from the red of a failure.
constexpr Colour no_reply_colour = rgb(2, 0, 0);

// A listed name as a one-line caption: it ends at a NUL (listed names may carry one) and any
// other control character shows as a blank.
std::string shown_name(const std::string& name) {
    std::string text = name.substr(0, name.find('\0'));
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
    return text;
}

std::int16_t port_of(const Label& label) {
    return weather::to_port_number(weather::numeric_value(label.tag));
}

} // namespace

frmAutoWeather::frmAutoWeather(Desktop& desktop, weather::Link& link, DetectionHost& host)
    : Form(desktop, "frmAutoWeather"), cmdAgain(add<Button>("cmdAgain")),
      cmdClose(add<Button>("cmdClose")), lblstatus(add<Label>("lblstatus")),
      Timer1(add_timer("Timer1")), link_(link), host_(host) {
    set_caption("Automatic COM Port Detection");
    set_client_size(4950, 5190);
    set_icon(&auto_weather_icon());
    key_preview = true;
    centred = true;

    cmdAgain.place({1020, 4440, 1245, 525});
    cmdAgain.set_caption("Again");
    cmdClose.place({2580, 4440, 1245, 525});
    cmdClose.set_caption("Close");
    lblstatus.move(300, 240);
    lblstatus.set_caption("...");
    lblCOM[1].move(240, 690);
    lblCOM[1].set_caption("COM1");
    lblCOM[1].set_fore_colour(colours::grey);

    cmdAgain.on_click = [this] { cmdAgain_Click(); };
    cmdClose.on_click = [this] { cmdClose_Click(); };
    on_load = [this] { Form_Load(); };
    on_unload = [this] { Form_Unload(); };
    on_key_down = [this](int key, int shift) { Form_KeyDown(key, shift); };

    Timer1.on_timer = [this] { Timer1_Timer(); };
    Timer1.set_interval(layout_interval_ms);
    Timer1.set_enabled(true);
}

void frmAutoWeather::Form_Load() {
    link_.state.com_port = 0;
    start_scan();
}

void frmAutoWeather::start_scan() {
    host_.carga_coms();
    Timer1.set_interval(scan_interval_ms);
    Timer1.set_enabled(true);
    scan_done = false;
    probe_label = nullptr;
    lblstatus.set_caption("Checking COM ports, please wait...");
    lblstatus.set_fore_colour(colours::black);
    lblstatus.set_bold(false);

    for (auto& [index, item] : lblCOM)
        item->set_visible(false);

    std::vector<std::string> ports;
    link_.list_com_ports(ports);
    // Ports past the last label that fits are left out of the scan.
    const auto n = static_cast<std::int16_t>(std::min(ports.size(), max_port_labels));
    for (std::int16_t i = 1; i <= n; ++i) {
        const std::string& name = ports[static_cast<std::size_t>(i - 1)];
        lblCOM.load(i); // fails for the layout's label and those of an earlier listing
        Label& label = lblCOM[i];
        label.move(240, static_cast<std::int16_t>(i * 300 + 400));
        label.set_caption(platform::utf8_from_system(shown_name(name)));
        label.tag = std::to_string(link_.port_number(name));
        label.set_fore_colour(colours::grey);
        label.set_visible(true);
    }

    scan_index = 1;
    probe_next();
}

// "COM" followed by the label's tag; the port's own name when the tag is the number of a named
// port, so that such a port is never shown as a COM number.
std::string frmAutoWeather::probe_name_of(const Label& label) const {
    const std::int16_t port = port_of(label);
    return link_.is_named(port) ? platform::utf8_from_system(shown_name(link_.port_name(port)))
                                : "COM" + label.tag;
}

void frmAutoWeather::Form_KeyDown(int key, int /*shift*/) {
    if (key == key_escape)
        unload();
}

// The dialog's own timer goes with it; the main window's timer and the port opened last are
// left as they are.
void frmAutoWeather::Form_Unload() {
    Timer1.set_enabled(false);
}

void frmAutoWeather::probe_next() {
    cmdAgain.set_enabled(false);
    if (scan_index > lblCOM.count()) {
        lblstatus.set_caption("NOT DETECTED. Close all programs and check again.");
        lblstatus.set_fore_colour(colours::red);
        Timer1.set_enabled(false);
        cmdAgain.set_enabled(true);
        host_.Abrir_puerto(0);
        return;
    }
    probe_label = &lblCOM[scan_index];
    probe_name = probe_name_of(*probe_label);
    probe_label->set_caption(probe_name + "   (opening)");

    // The main window must not poll the port while the probe uses it; starting its timer
    // afterwards also puts its next tick, which clears the pressure, after this probe's verdict.
    host_.stop_timer();
    if (host_.Abrir_puerto(port_of(*probe_label))) {
        probe_label->set_caption(probe_name + "   (communicating)");
        desktop().pause(settle_ms);
        // Escape or "Close" may close the dialog here; the probe still ends as usual.
        desktop().pump_events();
        // A reply that came after the poll's first quiet 10 ms waits in the input queue.
        link_.read_station();
    } else {
        probe_label->set_caption(probe_name + "   (failed)");
        probe_label->set_fore_colour(colours::red);
        probe_label = nullptr;
    }
    host_.start_timer();
}

void frmAutoWeather::Timer1_Timer() {
    if (scan_done) {
        unload();
        return;
    }
    ++scan_index;
    if (probe_label == nullptr) {
        probe_next();
        return;
    }
    // The main window's tick would clear the pressure, but its countdown restarted at the end
    // of the probe, so it falls due after this one.
    if (link_.state.pressure != 0) {
        probe_label->set_caption(probe_name + "   Connected");
        probe_label->set_fore_colour(colours::green);
        // A port listed under a name of its own is named as such, not by its number.
        lblstatus.set_caption(link_.is_named(port_of(*probe_label))
                                  ? "COMMUNICATION DONE IN " + probe_name
                                  : "COMMUNICATION DONE IN COM " + probe_label->tag);
        lblstatus.set_bold(true);
        lblstatus.set_fore_colour(colours::green);
        Timer1.set_interval(close_after_ms);
        scan_done = true;
        host_.start_timer();
        cmdAgain.set_enabled(true);
        link_.state.com_port = port_of(*probe_label);
        return;
    }
    probe_label->set_caption(probe_name + "   (no reply)");
    probe_label->set_fore_colour(no_reply_colour);
    probe_next();
}

void frmAutoWeather::cmdClose_Click() {
    unload();
}

void frmAutoWeather::cmdAgain_Click() {
    start_scan();
}

} // namespace port_detection
