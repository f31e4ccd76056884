// The port detection dialog: lists the machine's serial ports and probes them one after another,
// one port per tick of its own timer, until a station answers on one of them. It sees the main
// window only through DetectionHost and the station link through the shared weather::Link.
#pragma once

#include "detection_host.h"
#include "weather.h"

#include <QDialog>
#include <QLabel>

#include <cstdint>
#include <string>
#include <vector>

class QPushButton;
class QTimer;

namespace port_detection {

// One label of the port column. Besides its caption it carries the port's number as decimal
// text; the layout's first label starts with an empty tag.
class PortLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    std::string tag;
};

// The column of port labels, numbered from 1 like the port list. Items are created on demand
// and live as long as the dialog; none is ever removed.
class LabelArray {
public:
    int count() const { return static_cast<int>(items_.size()); }
    PortLabel* operator[](int index) const {
        return items_.at(static_cast<std::size_t>(index - 1));
    }
    // Item `index`, created (with every missing item below it) when it does not exist yet.
    PortLabel* load(int index, QWidget* parent);

private:
    std::vector<PortLabel*> items_; // owned by the dialog as Qt children
};

class frmAutoWeather : public QDialog {
    Q_OBJECT
public:
    frmAutoWeather(weather::Link& link, DetectionHost& host, QWidget* parent = nullptr);

    // The load handling runs on the first show, before the dialog appears: it lists the ports
    // and runs the whole first probe.
    void setVisible(bool visible) override;
    // Every way of closing ends here: Escape, "Close", the close box and the found port.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void start_scan();
    bool Form_KeyDown(int key, Qt::KeyboardModifiers shift);
    void Form_Unload();
    void probe_next();
    void Timer1_Timer();
    void cmdClose_Click();
    void cmdAgain_Click();

    void pump_events();

    weather::Link& link_;
    DetectionHost& host_;

    QPushButton* cmdAgain;
    QPushButton* cmdClose;
    QLabel* lblstatus;
    LabelArray lblCOM;
    QTimer* Timer1;

    std::int16_t scan_index = 0;
    PortLabel* probe_label = nullptr; // the label whose verdict the next tick gives
    std::string probe_name;
    bool scan_done = false;

    bool loaded_ = false;    // between the load handling and the unload
    bool probing_ = false;   // inside probe_next, which pumps events once
    bool tick_held_ = false; // a tick that fell due during a probe, given once the probe is over
};

} // namespace port_detection
