// The yardstick of the Windows start-up benchmark: a bare Win32 window that holds what the main
// window holds and nothing of the program's own: a menu "Options" with five items (two of them
// separators), five edit boxes (three in 13.5-point bold, in the TrueType face the program
// draws them in), five labels and a 2-second timer. Its controls are the program's as well:
// those of Common Controls 6, through the same manifest.
#include <windows.h>

#include <commctrl.h>

namespace {

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"bare";
    RegisterClassExW(&wc);

    HMENU bar = CreateMenu();
    HMENU options = CreatePopupMenu();
    AppendMenuW(options, MF_STRING | MF_CHECKED, 1, L"none");
    AppendMenuW(options, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(options, MF_STRING, 2, L"Auto");
    AppendMenuW(options, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(options, MF_STRING, 3, L"Show Jet Fields");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(options), L"Options");

    RECT r{0, 0, 283, 148};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRectEx(&r, style, TRUE, 0);
    HWND window =
        CreateWindowExW(0, L"bare", L"bare", style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                        r.bottom - r.top, nullptr, bar, instance, nullptr);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    HFONT bold = CreateFontW(-MulDiv(27, dpi, 144), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                             ANSI_CHARSET, OUT_TT_PRECIS, 0, 0, 0, L"Microsoft Sans Serif");
    HFONT normal = CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Shell Dlg 2");
    for (int i = 0; i < 5; ++i) {
        HWND edit = CreateWindowExW(
            WS_EX_CLIENTEDGE, L"EDIT", L"-", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
            30, 8 + 27 * i, 77, i < 3 ? 32 : 19, window, nullptr, instance, nullptr);
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(i < 3 ? bold : normal), FALSE);
        HWND label = CreateWindowExW(0, L"STATIC", L"Label", WS_CHILD | WS_VISIBLE, 112,
                                     14 + 27 * i, 60, 13, window, nullptr, instance, nullptr);
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(normal), FALSE);
    }
    SetTimer(window, 1, 2000, nullptr);
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DeleteObject(bold);
    DeleteObject(normal);
    return 0;
}
