// Reads the windows of another program from outside, for the end-to-end tests under Wine.
//
//   e2e_client find CAPTION [WAIT_MS]   waits up to WAIT_MS (default 0) for a shown top-level
//                                       window with that caption; prints it and its children
//   e2e_client gone CAPTION [WAIT_MS]   waits up to WAIT_MS for no such window to be shown
//   e2e_client minimize CAPTION [WAIT_MS]  as find, then minimises the window as its title bar's
//                                       button does
//   e2e_client settext CAPTION ID TEXT  sets the text of the control ID of that window with
//                                       WM_SETTEXT, as other programs (automation tools,
//                                       on-screen keyboards) do
//   e2e_client hold FILE MS             holds FILE open for reading for MS milliseconds, as a
//                                       spreadsheet does, and prints its size before and after
//
// Every window is one line of JSON: the window's handle, class, text (asked of the window
// itself with WM_GETTEXT, so that an edit box of another process gives its contents), its
// rectangle on the screen, whether it is visible and enabled, and, for the top-level window,
// its client area on the screen, whether it is minimised and whether it is the foreground
// window, and for a child its control id. The status is 0 when the window was found (or has
// gone, or took the text), 1 when the wait ran out (or the window or control is not there, or
// did not answer), 2 for a wrong command line.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

namespace {

// The owner of a window may be busy for a while (the detection dialog pauses the program for
// a second): a question waits that long and a little more before the text counts as unknown.
constexpr UINT answer_ms = 2500;

std::string utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(std::size_t(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), length, nullptr,
                        nullptr);
    return out;
}

std::string quoted(const std::wstring& text) {
    std::string out = "\"";
    for (const char c : utf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string rect_text(const RECT& r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
}

// The text as the window gives it, or null when it does not answer in time.
std::string text_of(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, answer_ms, &length))
        return "null";
    std::wstring text(std::size_t(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, WPARAM(text.size()),
                             reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, answer_ms,
                             &got))
        return "null";
    text.resize(std::min<std::size_t>(got, length));
    return quoted(text);
}

std::string common(HWND hwnd) {
    wchar_t window_class[256] = {};
    GetClassNameW(hwnd, window_class, 256);
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    char handle[32];
    std::snprintf(handle, sizeof handle, "\"%#llx\"",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)));
    return std::string(handle) + ",\"class\":" + quoted(window_class) +
           ",\"text\":" + text_of(hwnd) + ",\"rect\":" + rect_text(rect) +
           ",\"visible\":" + (IsWindowVisible(hwnd) ? "true" : "false") +
           ",\"enabled\":" + (IsWindowEnabled(hwnd) ? "true" : "false");
}

BOOL CALLBACK print_child(HWND child, LPARAM) {
    std::printf("{\"child\":%s,\"id\":%d}\n", common(child).c_str(), GetDlgCtrlID(child));
    return TRUE;
}

void print_window(HWND hwnd) {
    RECT client{};
    GetClientRect(hwnd, &client);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    std::printf("{\"window\":%s,\"client\":%s,\"iconic\":%s,\"foreground\":%s}\n",
                common(hwnd).c_str(), rect_text(client).c_str(), IsIconic(hwnd) ? "true" : "false",
                GetForegroundWindow() == hwnd ? "true" : "false");
    EnumChildWindows(hwnd, print_child, 0);
}

// A window is there for a user once it is shown: a form is created hidden and loads first.
HWND shown_window(const wchar_t* caption) {
    for (HWND hwnd = FindWindowW(nullptr, caption); hwnd;
         hwnd = FindWindowExW(nullptr, hwnd, nullptr, caption))
        if (IsWindowVisible(hwnd))
            return hwnd;
    return nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 5)
        return 2;
    const std::wstring command = argv[1];
    const wchar_t* caption = argv[2];
    if (command == L"hold") {
        if (argc != 4)
            return 2;
        // Sharing reads, writes and deletion: a reader that asks for less cannot open a file
        // that a program is writing at all.
        const HANDLE file = CreateFileW(argv[2], GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 1;
        LARGE_INTEGER before{}, after{};
        GetFileSizeEx(file, &before);
        Sleep(DWORD(std::wcstoul(argv[3], nullptr, 10)));
        GetFileSizeEx(file, &after);
        CloseHandle(file);
        std::printf("{\"before\": %lld, \"after\": %lld}\n", before.QuadPart, after.QuadPart);
        return 0;
    }
    if (command == L"settext") {
        if (argc != 5)
            return 2;
        const HWND hwnd = shown_window(caption);
        const HWND control =
            hwnd ? GetDlgItem(hwnd, int(std::wcstol(argv[3], nullptr, 10))) : nullptr;
        DWORD_PTR set = FALSE;
        if (control)
            SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]),
                                SMTO_ABORTIFHUNG, answer_ms, &set);
        return set ? 0 : 1;
    }
    if (argc == 5)
        return 2;
    const DWORD wait_ms = argc == 4 ? DWORD(std::wcstoul(argv[3], nullptr, 10)) : 0;
    if (command != L"find" && command != L"gone" && command != L"minimize")
        return 2;
    const bool want_gone = command == L"gone";
    const ULONGLONG deadline = GetTickCount64() + wait_ms;
    for (;;) {
        const HWND hwnd = shown_window(caption);
        if (hwnd && !want_gone) {
            if (command == L"minimize")
                PostMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            print_window(hwnd);
            return 0;
        }
        if (!hwnd && want_gone)
            return 0;
        if (GetTickCount64() >= deadline)
            return 1;
        Sleep(50);
    }
}
