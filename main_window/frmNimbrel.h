// The main window: the three live readings, the jet size correction, the port menu and the
// two settings kept between runs.
#pragma once

#include "detection_host.h"

#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLineEdit;
class QMenu;

namespace platform {
class SettingsStore;
}
namespace weather {
class Link;
}

namespace main_window {

// Positions and sizes are laid out in twips; 15 twips make one device-independent pixel.
constexpr int px(int twips) {
    return (twips + 7) / 15;
}

// Where the settings live: application, section and keys.
inline constexpr const char* settings_app = "KORVANE_1";
inline constexpr const char* settings_section = "main";

// A status picture in the client area; a click on it asks for the port detection.
class StatusPicture : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> on_click;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class frmNimbrel : public QMainWindow, public port_detection::DetectionHost {
public:
    // The window works on `link` and `store` for its whole life; both must outlive it.
    frmNimbrel(weather::Link& link, platform::SettingsStore& store, QWidget* parent = nullptr);
    ~frmNimbrel() override;

    // --- What the port detection dialog uses as well ---
    // Rebuilds the port items of the Options menu from a fresh port list.
    void carga_coms() override;
    // Opens `port` (0: none), polls it once and ticks its menu items; true when it opened.
    bool Abrir_puerto(std::int16_t port) override;
    // The detection dialog stops the display tick while it probes a port.
    void stop_timer() override;
    void start_timer() override;
    // The display tick, every 2000 ms from the moment the window exists.
    QTimer Timer1;
    // Shows the port detection dialog modally; tests replace it to see that it is asked for.
    std::function<void()> open_detection;

    // --- Handlers and procedures, public so that tests can drive them without waiting ---
    void Form_Load();
    void Timer1_Timer();
    void mncom_Click(int index);
    void mnShowJet_Click();
    void mnAuto_Click();
    void imgConectado_Click();
    void imgDesconectado_Click();
    void fit_height();
    void calc_jet();

    // --- Controls ---
    QLineEdit* txtHumidity;
    QLineEdit* txtPressure;
    QLineEdit* txtTemperature;
    QLineEdit* txtJetSize;
    QLineEdit* txtCorr;
    std::array<QLabel*, 5> label;
    StatusPicture* imgConectado;
    StatusPicture* imgDesconectado;
    QMenu* mnoptions;
    std::vector<QAction*> mncom; // index 0 is "none"; port items follow
    QAction* mn1;
    QAction* mnAuto;
    QAction* mn2;
    QAction* mnShowJet;

    // The item number of port item `index`: the number in its caption from the fourth
    // character on; 0 for "none".
    std::int16_t item_number(std::size_t index) const;

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_QueryUnload();
    void show_link_picture(bool connected);
    void show_reading(QLineEdit* box, float value);
    double box_value(const QLineEdit* box) const;
    // Air density, density altitude and dew point of the numbers the jet size is computed
    // from, as the tooltip of the readings and of the calculated jet size.
    void show_air_figures(double humidity, double pressure, double temperature);

    weather::Link& link_;
    platform::SettingsStore& store_;
    std::vector<std::string> port_names_; // the caption behind each mncom item
    std::optional<bool> connected_shown_; // the picture now in the window icon
    bool loaded_ = false;
    int frame_height_ = 0; // title bar and borders that fit_height last allowed for
};

} // namespace main_window
