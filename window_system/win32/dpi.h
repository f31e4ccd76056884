// The DPI of the screen and of a window's monitor, and the system metrics and the frame at a
// DPI, as each version of Windows tells them.
#pragma once

#include <windows.h>

namespace window_system::win32 {

// The screen's dots per inch as the program sees them: the system DPI.
int system_dpi();

// The DPI of the monitor a window is on, as Windows 10 tells it; 0 where Windows cannot.
int window_dpi(HWND hwnd);

// A system metric at `dpi`: asked of Windows 10, scaled from the system DPI's before it.
int metric(int index, int dpi);

// The window rectangle around `rect` as the client area, with the frame and menu bar at `dpi`.
void frame_rect(RECT& rect, DWORD style, bool menu, DWORD ex_style, int dpi);

} // namespace window_system::win32
