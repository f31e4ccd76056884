#include "frmNimbrel.h"

#include "air_data.h"
#include "correction_factor.h"
#include "display_numbers.h"
#include "frmAutoWeather.h"
#include "numeric_text.h"
#include "pictures.h"
#include "settings_store.h"
#include "system_text.h"
#include "weather.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace main_window {

using namespace window_system;

namespace {

const Font reading_font{"MS Sans Serif", 13.5, 700};
constexpr Colour window_back = rgb(240, 240, 255);

struct Row {
    const char* caption;
    const char* text;
    Rect box;
    Twips label_top;
};

// The five rows from top to bottom.
const Row rows[5] = {
    {"Humidity (%)", "-", {450, 120, 1155, 480}, 210},
    {"Pressure (mb)", "-", {450, 525, 1155, 480}, 630},
    {"Temperature (\u00BAC)", "-", {450, 930, 1155, 480}, 1020},
    {"Original Jet Size", "150", {750, 1560, 855, 285}, 1620},
    {"Calculated Jet Size", "", {750, 1860, 855, 285}, 1890},
};

constexpr Twips label_left = 1680;
constexpr Twips height_with_jet = 3300;
constexpr Twips height_without_jet = 2300;

} // namespace

frmNimbrel::frmNimbrel(Desktop& desktop, weather::Link& link, platform::SettingsStore& store)
    : Form(desktop, "frmNimbrel"), txtHumidity(add<TextBox>("txtHumidity")),
      txtPressure(add<TextBox>("txtPressure")), txtTemperature(add<TextBox>("txtTemperature")),
      txtJetSize(add<TextBox>("txtJetSize")), txtCorr(add<TextBox>("txtCorr")),
      imgConectado(add<Image>("imgConectado")), imgDesconectado(add<Image>("imgDesconectado")),
      mnoptions(add<MenuItem>("mnoptions", "Options", nullptr)),
      mn1(add<MenuItem>("mn1", "-", &mnoptions)),
      mnAuto(add<MenuItem>("mnAuto", "Auto", &mnoptions)),
      mn2(add<MenuItem>("mn2", "-", &mnoptions)),
      mnShowJet(add<MenuItem>("mnShowJet", "Show Jet Fields", &mnoptions)),
      mn3(add<MenuItem>("mn3", "-", &mnoptions)),
      mnHistory(add<MenuItem>("mnHistory", "History", &mnoptions)),
      mnMarkRun(add<MenuItem>("mnMarkRun", "Mark Run", &mnoptions)),
      mnLog(add<MenuItem>("mnLog", "Log Readings", &mnoptions)),
      mnLogFolder(add<MenuItem>("mnLogFolder", "Open Log Folder", &mnoptions)),
      mn4(add<MenuItem>("mn4", "-", &mnoptions)),
      mnEngines(add<MenuItem>("mnEngines", "Engines", &mnoptions)),
      mnBaseline(add<MenuItem>("mnBaseline", "Set Baseline", &mnoptions)),
      mnStandard(add<MenuItem>("mnStandard", "Correction Standard", &mnoptions)),
      Timer1(add_timer("Timer1")), history(desktop), link_(link), store_(store) {
    set_caption("Travenor Nimbrel");
    set_client_size(4245, 2220);
    set_back_colour(window_back);
    key_preview = true;

    TextBox* boxes[5] = {&txtHumidity, &txtPressure, &txtTemperature, &txtJetSize, &txtCorr};
    for (std::int16_t i = 0; i < 5; ++i) {
        const Row& row = rows[i];
        boxes[i]->place(row.box);
        boxes[i]->set_text(row.text);
        boxes[i]->accessible_name = row.caption;
        label.load(i);
        label[i].move(label_left, row.label_top);
        label[i].set_caption(row.caption);
        label[i].set_visible(true);
    }
    for (TextBox* box : {&txtHumidity, &txtPressure, &txtTemperature}) {
        box->set_font(reading_font);
        box->set_back_colour(colours::grey);
        box->set_fore_colour(colours::green);
        box->on_change = [this] { calc_jet(); };
    }
    txtCorr.set_back_colour(colours::light_grey);

    for (Image* picture : {&imgConectado, &imgDesconectado})
        picture->place({3780, 60, 240, 240});
    imgConectado.set_picture(&connected_picture());
    imgConectado.accessible_name = "Connected";
    imgConectado.set_visible(false);
    imgConectado.on_click = [this] { imgConectado_Click(); };
    imgDesconectado.set_picture(&disconnected_picture());
    imgDesconectado.accessible_name = "Disconnected";
    imgDesconectado.on_click = [this] { imgDesconectado_Click(); };

    mncom[0].checkable = true;
    mncom[0].on_click = [this] { mncom_Click(0); };
    mnShowJet.checkable = true;
    mnAuto.on_click = [this] { mnAuto_Click(); };
    mnShowJet.on_click = [this] { mnShowJet_Click(); };
    mnLog.checkable = true;
    mnHistory.on_click = [this] { mnHistory_Click(); };
    mnMarkRun.on_click = [this] { mnMarkRun_Click(); };
    history.on_mark_run = [this] { mnMarkRun_Click(); };
    mnLog.on_click = [this] { mnLog_Click(); };
    mnLogFolder.on_click = [this] { mnLogFolder_Click(); };
    mnEngines.on_click = [this] { mnEngines_Click(); };
    mnBaseline.on_click = [this] { mnBaseline_Click(); };
    mnBaseline.set_enabled(false);
    for (const auto& name : air_data::standard_names) {
        MenuItem& item =
            add<MenuItem>("mnStd(" + std::to_string(mnStd.size()) + ")", name.caption, &mnStandard);
        item.checkable = true;
        item.on_click = [this, index = mnStd.size()] { mnStd_Click(index); };
        mnStd.push_back(&item);
    }

    on_load = [this] { Form_Load(); };
    on_query_unload = [this] { Form_QueryUnload(); };
    on_key_down = [this](int key, int shift) { Form_KeyDown(key, shift); };
    on_devices_changed = [this] {
        devices_changed_ = true;
        follow_station(false);
    };

    Timer1.on_timer = [this] { Timer1_Timer(); };
    Timer1.set_interval(2000);
    Timer1.set_enabled(true);
}

void frmNimbrel::Form_Load() {
    load_standard();
    start_log();
    show_link_picture(false);
    carga_coms();
    const std::string stored_port = store_.get(settings_app, settings_section, "weather_com", "1");
    Abrir_puerto(weather::to_port_number(weather::numeric_value(stored_port)));
    const std::string stored_jet = store_.get(settings_app, settings_section, "show_jet", "0");
    mnShowJet.set_checked(weather::numeric_value(stored_jet) == 1);
    fit_height();
    load_engine();
    calc_jet();
}

void frmNimbrel::carga_coms() {
    std::vector<std::string> ports;
    link_.list_com_ports(ports);
    build_port_menu(ports);
}

void frmNimbrel::build_port_menu(const std::vector<std::string>& ports) {
    listed_ = ports;
    for (auto& [index, item] : mncom)
        if (index > 0)
            item->set_visible(false);
    // Item indexes are 16-bit; no machine lists that many ports.
    const auto count = static_cast<std::int16_t>(std::min<std::size_t>(ports.size(), 32767));
    for (std::int16_t i = 1; i <= count; ++i) {
        if (mncom.load(i)) // fails for an item of an earlier listing, which is used again
            mncom[i].on_click = [this, i] { mncom_Click(i); };
        std::string name = ports[std::size_t(i - 1)];
        std::erase(name, '\0'); // a listed name may carry its terminating NUL
        if (item_numbers_.size() <= std::size_t(i))
            item_numbers_.resize(std::size_t(i) + 1);
        mncom[i].set_caption(platform::utf8_from_system(name));
        item_numbers_[std::size_t(i)] = link_.port_number(name);
        mncom[i].set_visible(true);
    }
}

std::int16_t frmNimbrel::item_number(std::int16_t index) const {
    return index >= 0 && std::size_t(index) < item_numbers_.size()
               ? item_numbers_[std::size_t(index)]
               : 0;
}

bool frmNimbrel::Abrir_puerto(std::int16_t port) {
    const bool opened = link_.open_port(port);
    link_.poll_station();
    tick_port_items();
    note_held_port();
    return opened;
}

void frmNimbrel::tick_port_items() {
    for (auto& [index, item] : mncom)
        item->set_checked(item_number(index) == link_.state.com_port);
}

void frmNimbrel::mncom_Click(std::int16_t index) {
    stop_following();
    Abrir_puerto(item_number(index));
}

void frmNimbrel::mnShowJet_Click() {
    mnShowJet.set_checked(!mnShowJet.checked());
    store_.save(settings_app, settings_section, "show_jet", mnShowJet.checked() ? "1" : "0");
    fit_height();
}

void frmNimbrel::stop_timer() {
    Timer1.set_enabled(false);
}

void frmNimbrel::start_timer() {
    Timer1.set_enabled(true); // a stopped timer starts its countdown afresh
}

// A new dialog at every opening, gone when it closes.
void frmNimbrel::mnAuto_Click() {
    stop_following();
    port_detection::frmAutoWeather dialog(desktop(), link_, *this);
    dialog.show_modal();
}

void frmNimbrel::imgConectado_Click() {
    mnAuto_Click();
}

void frmNimbrel::imgDesconectado_Click() {
    mnAuto_Click();
}

void frmNimbrel::fit_height() {
    set_outer_height(mnShowJet.checked() ? height_with_jet : height_without_jet);
}

void frmNimbrel::Timer1_Timer() {
    link_.poll_station();
    weather::LinkState& state = link_.state;
    if (state.com_port == 0) {
        show_link_picture(false);
        log_tick(false);
        return;
    }
    // A station that has moved to another port shows its first reading on this very tick.
    follow_station(true);
    const bool fresh = state.pressure != 0;
    for (TextBox* box : {&txtHumidity, &txtPressure, &txtTemperature})
        box->set_back_colour(fresh ? colours::black : colours::grey);
    for (TextBox* box : {&txtHumidity, &txtPressure, &txtTemperature})
        box->set_fore_colour(fresh ? colours::green : colours::black);
    txtHumidity.set_text(desktop().format(state.humidity, "0.0"));
    txtPressure.set_text(desktop().format(state.pressure, "0.0"));
    txtTemperature.set_text(desktop().format(state.temperature, "0.0"));
    show_link_picture(state.link_kind > 0);
    calc_jet(); // the change handlers may not all have run: unchanged texts raise no change
    log_tick(fresh);
    if (fresh) {
        note_live_reading();
        judge_rejet(called_for_);
    }
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
    called_for_ = jet;
    txtCorr.set_text(whole_number_text(weather::round_half_even(jet)));
}

void frmNimbrel::show_air_figures(double humidity, double pressure, double temperature) {
    const air_data::Air air{temperature, pressure, humidity};
    std::string figures = air_data::describe(air, desktop().decimal_separator());
    const std::string factor = air_data::describe_correction(
        air_data::standard_names[standard_].standard, air, desktop().decimal_separator());
    if (!factor.empty())
        figures += "\n" + factor;
    for (TextBox* box : {&txtHumidity, &txtPressure, &txtTemperature})
        box->set_tooltip(figures);
    txtCorr.set_tooltip(rejet_.empty() ? figures : rejet_ + "\n" + figures);
    if (engine_)
        txtJetSize.set_tooltip(baseline_text(air));
}

double frmNimbrel::box_value(const TextBox& box) const {
    return weather::box_number(box.text(), desktop().decimal_separator());
}

void frmNimbrel::show_link_picture(bool connected) {
    set_icon(connected ? &connected_picture() : &disconnected_picture());
    imgConectado.set_visible(connected);
    imgDesconectado.set_visible(!connected);
}

void frmNimbrel::Form_KeyDown(int key, int /*shift*/) {
    if (key == key_escape)
        unload();
    else if (key == key_f2)
        mnMarkRun_Click();
}

void frmNimbrel::Form_QueryUnload() {
    // A port being tried is not the station's yet: the user's port stays the stored one. A
    // named port's number holds only for this run: the next start opens no port.
    const std::int16_t port = home_port_ != 0 ? home_port_ : link_.state.com_port;
    store_.save(settings_app, settings_section, "weather_com",
                link_.is_named(port) ? "0" : std::to_string(port));
    link_.close_port();
    log_event("stop");
    log_.reset();
    history.unload();
}

} // namespace main_window
