// The program's objects, made once for either entry: the machine's serial ports and port list,
// the station link over them, the user's settings, and the main window on `desktop`. Members
// are made in this order and go in the reverse one: the window, which stores the port at
// close, before the link, the link before the port it closes.
#pragma once

#include "desktop.h"
#include "frmNimbrel.h"
#include "serial_port.h"
#include "settings_store.h"
#include "weather.h"

#include <memory>

namespace app {

struct Program {
    explicit Program(window_system::Desktop& desktop) : window(desktop, link, *store) {}

    std::unique_ptr<platform::SerialPort> port = platform::make_serial_port();
    std::unique_ptr<platform::PortLister> lister = platform::make_port_lister();
    weather::Link link{*port, *lister};
    std::unique_ptr<platform::SettingsStore> store = platform::make_settings_store();
    main_window::frmNimbrel window;
};

} // namespace app
