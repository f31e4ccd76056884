// nimbrel.exe: the main window on the machine's COM ports and the user's settings in the
// registry, shown by the Win32 backend. When Windows ends the session the backend closes the
// window as Escape does: the port is stored and let go of before the process ends.
#include "desktop.h"
#include "frmNimbrel.h"
#include "serial_port.h"
#include "settings_store.h"
#include "weather.h"
#include "win32_backend.h"

#include <exception>
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        window_system::win32::Backend backend;
        window_system::Desktop desktop(backend);
        auto port = platform::make_serial_port();
        auto lister = platform::make_port_lister();
        weather::Link link(*port, *lister);
        auto store = platform::make_settings_store();
        main_window::frmNimbrel window(desktop, link, *store);
        window.show();
        backend.run_until_unloaded(window);
        return 0;
    } catch (const std::exception&) {
        return 1; // no window could be made, so there is nowhere to say so
    }
}
