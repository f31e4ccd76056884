// The Backend: the clock, the wake-up timer, the message loop with its key preview, and the
// windows of the loaded forms.
#include "backend.h"

#include "text.h"
#include "window.h"

#include <algorithm>
#include <commctrl.h>
#include <stdexcept>
#include <utility>

namespace window_system::win32 {

namespace {

constexpr UINT_PTR wake_timer_id = 1;
// How many messages one pump handles at most: a window that keeps asking to be painted, or a
// flood of posted messages, must not turn one pass into an endless loop.
constexpr int pump_limit = 1000;

int shift_state() {
    return (GetKeyState(VK_SHIFT) < 0 ? shift_key : 0) |
           (GetKeyState(VK_CONTROL) < 0 ? ctrl_key : 0) | (GetKeyState(VK_MENU) < 0 ? alt_key : 0);
}

// Without input, keys and clicks stay queued: the input queue is left out, and so are
// keyboard and mouse messages that were posted.
bool peek_without_input(MSG& msg) {
    constexpr UINT flags = PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;
    constexpr std::pair<UINT, UINT> ranges[] = {
        {0, WM_KEYFIRST - 1}, {WM_KEYLAST + 1, WM_MOUSEFIRST - 1}, {WM_MOUSELAST + 1, 0xFFFF}};
    for (const auto& [low, high] : ranges)
        if (PeekMessageW(&msg, nullptr, low, high, flags))
            return true;
    return false;
}

void register_class(HINSTANCE instance, const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = name;
    RegisterClassExW(&wc); // fails only when the class is there already, which is as good
}

} // namespace

Backend::Backend() : instance_(GetModuleHandleW(nullptr)) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    register_class(instance_, form_class, form_proc);
    register_class(instance_, wake_class, wake_proc);
    register_class(instance_, graph_class, Window::graph_proc);
    wake_ = CreateWindowExW(0, wake_class, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance_,
                            nullptr);
    if (!wake_)
        throw std::runtime_error("cannot create the wake-up window");
    SetWindowLongPtrW(wake_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Backend::~Backend() {
    in_message_.clear();
    destroy_doomed();
    KillTimer(wake_, wake_timer_id);
    SetWindowLongPtrW(wake_, GWLP_USERDATA, 0);
    DestroyWindow(wake_);
    UnregisterClassW(form_class, instance_);
    UnregisterClassW(wake_class, instance_);
    UnregisterClassW(graph_class, instance_);
}

std::int64_t Backend::now_ms() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start_.QuadPart) * 1000 / frequency_.QuadPart;
}

// One window timer for the scheduler's next tick. A due time that has passed fires as soon as
// a timer can.
void Backend::wake_at(std::optional<std::int64_t> ms) {
    if (!ms) {
        KillTimer(wake_, wake_timer_id);
        return;
    }
    const std::int64_t delay =
        std::clamp<std::int64_t>(*ms - now_ms(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    SetTimer(wake_, wake_timer_id, UINT(delay), nullptr);
}

LRESULT CALLBACK Backend::wake_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_TIMER && wp == wake_timer_id) {
        // A window timer repeats: the scheduler asks for the next one itself.
        KillTimer(hwnd, wake_timer_id);
        if (auto* self = reinterpret_cast<Backend*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)))
            self->desktop().run_due_ticks();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Backend::form_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* window = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!window)
        return DefWindowProcW(hwnd, msg, wp, lp);
    Backend& backend = window->backend_;
    backend.in_message_.push_back(hwnd);
    const LRESULT result = window->on_message(msg, wp, lp);
    backend.in_message_.pop_back();
    return result;
}

std::unique_ptr<FormPeer> Backend::create_window(Form& form) {
    return std::make_unique<Window>(*this, form);
}

Window* Backend::peer_of(HWND hwnd) const {
    const auto it = windows_.find(hwnd);
    return it == windows_.end() ? nullptr : it->second;
}

// Every form's peer is a Window of this backend.
HWND Backend::window_of(const Form& form) const {
    const auto* window = static_cast<const Window*>(form.peer());
    return window ? window->hwnd() : nullptr;
}

HWND Backend::window_of(const Control& control) const {
    const auto* window = static_cast<const Window*>(control.form().peer());
    return window ? window->child_of(control) : nullptr;
}

void Backend::handle(MSG& msg) {
    const HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    // Key preview: the form hears the key before the focused control, and a key that closed
    // the form goes no further. Escape would otherwise reach the dialog manager as Cancel.
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)
        if (Window* window = peer_of(root)) {
            Form& form = window->form();
            form.key_down(int(msg.wParam), shift_state());
            if (!peer_of(root) || !form.shown()) {
                destroy_doomed();
                return;
            }
        }
    if (!peer_of(root) || !IsDialogMessageW(root, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    destroy_doomed();
}

void Backend::destroy_doomed() {
    std::vector<HWND> later;
    for (const HWND hwnd : std::exchange(doomed_, {})) {
        if (std::find(in_message_.begin(), in_message_.end(), hwnd) != in_message_.end())
            later.push_back(hwnd);
        else
            DestroyWindow(hwnd);
    }
    doomed_.insert(doomed_.end(), later.begin(), later.end());
}

void Backend::run_until_unloaded(Form& form) {
    while (form.loaded()) {
        MSG msg;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // WM_QUIT: the form closes as by its close box, and the loops around this one end
            // as well.
            if (got == 0)
                PostQuitMessage(int(msg.wParam));
            form.unload();
            break;
        }
        handle(msg);
    }
    destroy_doomed();
}

void Backend::pump(bool with_input) {
    for (int handled = 0; handled < pump_limit; ++handled) {
        MSG msg;
        if (!(with_input ? PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) : peek_without_input(msg)))
            break;
        if (msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam)); // for the loop that runs the form
            break;
        }
        handle(msg);
    }
    destroy_doomed();
}

void Backend::pause(int ms) {
    Sleep(DWORD(std::max(ms, 0)));
}

std::string Backend::decimal_separator() {
    wchar_t separator[8] = {};
    const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
    if (length <= 1)
        return ".";
    return narrow(std::wstring(separator, std::size_t(length - 1)));
}

} // namespace window_system::win32
