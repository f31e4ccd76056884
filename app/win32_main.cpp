// nimbrel.exe: the main window on the machine's COM ports and the user's settings in the
// registry, shown by the Win32 backend. When Windows ends the session the backend closes the
// window as Escape does: the port is stored and let go of before the process ends. A second
// start in the same user session brings this copy's window to the front and ends with status 0,
// before it opens a window or touches the port. Windows tells the main window when the device
// of the port it holds is being removed, and the port lets go of it.
#include "backend.h"
#include "desktop.h"
#include "program.h"
#include "single_instance.h"
#include "win32_device_notice.h"

#include <cstdio>
#include <exception>
#include <windows.h>

namespace {

// The running copy's main window comes to the front, restored when minimised, or the dialog it
// shows over that window. False while no such window is shown.
bool bring_forward() {
    const HWND main = FindWindowW(window_system::win32::form_class, L"Travenor Nimbrel");
    if (!main || !IsWindowVisible(main))
        return false;
    // Asynchronous: the other copy may be busy for a second (a probe of "Auto").
    if (IsIconic(main))
        ShowWindowAsync(main, SW_RESTORE);
    SetForegroundWindow(GetLastActivePopup(main));
    return true;
}

// This copy does not hold the claim: another copy does, or none could be made. True when this
// copy is to end. A copy that holds the claim may still be starting, and on a busy machine take
// seconds to show its window, which is looked for meanwhile; should that copy end, this one
// takes the claim and goes on. A copy that could not make the claim at all looks once, and runs
// as a copy of its own unless another copy's window is there.
bool hand_over(platform::SingleInstance& instance) {
    const ULONGLONG deadline = GetTickCount64() + (instance.first() ? 0 : 10000);
    for (;;) {
        if (bring_forward())
            return true;
        if (instance.claim() && instance.holds_claim())
            return false;
        if (GetTickCount64() >= deadline)
            return !instance.first(); // the claim is another copy's, window or not
        Sleep(100);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    platform::SingleInstance instance("TravenorNimbrel");
    if (!instance.holds_claim() && hand_over(instance))
        return 0;
    try {
        window_system::win32::Backend backend;
        window_system::Desktop desktop(backend);
        app::Program program(desktop);
        main_window::frmNimbrel& window = program.window;
        weather::Link& link = program.link;
        // A removal that Windows asks about waits for the handle to be closed: the port lets go
        // of it here and now, not at the next wake-up.
        backend.on_handle_removal = [&link](void* handle) {
            platform::device_removal(handle);
            link.port_lost();
        };
        window.show(); // opens the port: registered once the window is there
        platform::set_device_notice_window(backend.window_of(window));
        backend.run_until_unloaded(window);
        platform::set_device_notice_window(nullptr);
        return 0;
    } catch (const std::exception& e) {
        // No window could be made: said where a console or a log takes standard error, if any.
        std::fprintf(stderr, "nimbrel: %s\n", e.what());
        return 1;
    }
}
