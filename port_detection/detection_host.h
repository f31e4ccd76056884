// What the port detection dialog needs of the main window, and nothing more.
#pragma once

#include <cstdint>

namespace port_detection {

class DetectionHost {
public:
    virtual ~DetectionHost() = default;
    // Rebuilds the main window's port menu from a fresh port list.
    virtual void carga_coms() = 0;
    // Opens `port` (0 = none) through the link, polls the station once and ticks the port's
    // menu item. True when the port could be opened.
    virtual bool Abrir_puerto(std::int16_t port) = 0;
    // Stop and start of the main window's polling timer (Timer1). Starting it restarts its
    // countdown, so its next tick comes one full interval later.
    virtual void stop_timer() = 0;
    virtual void start_timer() = 0;
};

} // namespace port_detection
