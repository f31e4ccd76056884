// nimbrel.exe: the main window on the machine's COM ports and the user's settings in the
// registry, shown by the Win32 backend. When Windows ends the session the backend closes the
// window as Escape does: the port is stored and let go of before the process ends. A second
// start in the same user session brings this copy's window to the front and ends with status 0,
// before it opens a window or touches the port. Windows tells the main window when the device
// of the port it holds is being removed, and the port lets go of it.
#include "desktop.h"
#include "frmNimbrel.h"
#include "serial_port.h"
#include "settings_store.h"
#include "single_instance.h"
#include "weather.h"
#include "win32_backend.h"
#include "win32_device_notice.h"

#include <exception>
#include <windows.h>

namespace {

// Another copy holds the claim: its main window comes to the front, restored when minimised, or
// the dialog it shows over that window. The other copy may still be starting, so its window is
// looked for during a few seconds; should that copy end meanwhile, this one takes over. True
// when this copy is to end.
bool hand_over(platform::SingleInstance& instance) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const HWND main = FindWindowW(window_system::win32::form_class, L"Travenor Nimbrel");
        if (main && IsWindowVisible(main)) {
            // Asynchronous: the other copy may be busy for a second (a probe of "Auto").
            if (IsIconic(main))
                ShowWindowAsync(main, SW_RESTORE);
            SetForegroundWindow(GetLastActivePopup(main));
            return true;
        }
        if (instance.claim())
            return false;
        Sleep(100);
    }
    return true;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    platform::SingleInstance instance("TravenorNimbrel");
    if (!instance.first() && hand_over(instance))
        return 0;
    try {
        window_system::win32::Backend backend;
        window_system::Desktop desktop(backend);
        auto port = platform::make_serial_port();
        auto lister = platform::make_port_lister();
        weather::Link link(*port, *lister);
        auto store = platform::make_settings_store();
        main_window::frmNimbrel window(desktop, link, *store);
        // A removal that Windows asks about waits for the handle to be closed: the port lets go
        // of it here and now, not at the next wake-up.
        backend.on_handle_removal = [&link](void* handle) {
            platform::device_removal(handle);
            link.port_lost();
        };
        window.show(); // opens the port: registered once the window is there
        platform::set_device_notice_window(backend.hwnd_of(window));
        backend.run_until_unloaded(window);
        platform::set_device_notice_window(nullptr);
        return 0;
    } catch (const std::exception&) {
        return 1; // no window could be made, so there is nowhere to say so
    }
}
