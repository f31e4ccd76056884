// The DPI and the system metrics: Windows 10's own calls where there are, else the system's.
#include "dpi.h"

namespace window_system::win32 {

namespace {

// A function of user32.dll that older Windows lack: null there.
template <class Fn> Fn user32_function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const FARPROC proc = user32 ? GetProcAddress(user32, name) : nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

} // namespace

int window_dpi(HWND hwnd) {
    static const auto get = user32_function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    return get ? int(get(hwnd)) : 0;
}

int metric(int index, int dpi) {
    static const auto get = user32_function<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return get ? get(index, UINT(dpi)) : MulDiv(GetSystemMetrics(index), dpi, system_dpi());
}

void frame_rect(RECT& rect, DWORD style, bool menu, DWORD ex_style, int dpi) {
    static const auto adjust =
        user32_function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, style, menu, ex_style, UINT(dpi)))
        AdjustWindowRectEx(&rect, style, menu, ex_style);
}

int system_dpi() {
    // Windows 10 tells the system DPI directly; older systems through the screen's DC.
    static const auto get = user32_function<UINT(WINAPI*)()>("GetDpiForSystem");
    if (get)
        if (const UINT dpi = get())
            return int(dpi);
    int dpi = 0;
    if (const HDC screen = GetDC(nullptr)) {
        dpi = GetDeviceCaps(screen, LOGPIXELSX);
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi : 96;
}

} // namespace window_system::win32
