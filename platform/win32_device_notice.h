// The removal of an open serial device, as Windows tells it to a window; part of win32_ports.h.
// Apart from it for the program's main file, which cannot include win32_ports.h after the window
// system's <windows.h>: its "interface" macro would rename a field of the adapter's identity.
#pragma once

#include <windows.h>

namespace platform {

// The window that Windows is to tell of the removal of an open device (the main window), or
// none. The devices open now are registered with it, and each one opened later.
void set_device_notice_window(HWND window);
// Windows has told that the device of open handle `device` is being removed: the port that holds
// it lets it go the next time it is asked whether it is lost. Whether its registration worked
// does not matter; a handle that is not open is ignored.
void device_removal(HANDLE device);
// The serial system's side: a handle opened (registered with the window, if one is known), a
// handle about to be closed (registration given back), and whether its removal was told.
void watch_removal(HANDLE device);
void unwatch_removal(HANDLE device);
bool removal_told(HANDLE device);

} // namespace platform
