// The Win32 backend: a top-level window per loaded form (overlapped with its menu bar, or a
// dialog-like popup owned by the form below it) and EDIT, STATIC and BUTTON children for its
// controls, laid out in pixels from the model's twips at the DPI of the window's monitor, and
// laid out again when Windows reports another one. Text is UTF-8 in the model and UTF-16
// towards Windows. One window timer wakes the model's scheduler; key presses reach the form in
// the message loop before the focused control sees them (key preview).
#pragma once

#include "desktop.h"
#include "gdi_cache.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include <windows.h>

namespace window_system::win32 {

class Window;

// Every control's child window, and every menu item, has the command id first_control_id plus
// the control's place in its form's control list, so that a program driving the windows from
// outside finds a control by the order the form was written in. The ids of the dialog's OK and
// Cancel commands are never used.
inline constexpr int first_control_id = 100;

// The class names of the forms' windows and of the backend's hidden wake-up window.
inline constexpr const wchar_t* form_class = L"TravenorNimbrelForm";
inline constexpr const wchar_t* wake_class = L"TravenorNimbrelWake";
inline constexpr const wchar_t* graph_class = L"TravenorNimbrelGraph";

class Backend : public window_system::Backend {
public:
    // Lays out each window at the DPI of the monitor it is on.
    Backend();
    ~Backend() override;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    std::int64_t now_ms() override;
    void wake_at(std::optional<std::int64_t> ms) override;
    std::unique_ptr<FormPeer> create_window(Form& form) override;
    void run_until_unloaded(Form& form) override;
    void pump(bool with_input) override;
    void pause(int ms) override;
    std::string decimal_separator() override;

    // Called with an open device's handle that Windows says is being removed, for the program
    // to mark it; the forms then hear of a change of devices. Windows tells only the window
    // that registered the handle (RegisterDeviceNotification).
    std::function<void(void* handle)> on_handle_removal;

    // The window of `form` while it is loaded, and the child window of one of its controls:
    // the window a second start brings to the front, and what tests look at with Win32 calls.
    HWND window_of(const Form& form) const;
    HWND window_of(const Control& control) const;

private:
    friend class Window;
    // Key preview, Tab through the dialog manager, then the usual translation and dispatch.
    void handle(MSG& msg);
    Window* peer_of(HWND hwnd) const;
    // A form window that goes away while one of its own messages is being handled is
    // destroyed once that message is over.
    void destroy_later(HWND hwnd) { doomed_.push_back(hwnd); }
    void destroy_doomed();
    // WM_DEVICECHANGE, sent to every form window; devices.cpp.
    LRESULT device_change(WPARAM event, LPARAM data);
    static LRESULT CALLBACK wake_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK form_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    HINSTANCE instance_;
    HWND wake_ = nullptr;
    LARGE_INTEGER frequency_{};
    LARGE_INTEGER start_{};
    std::map<HWND, Window*> windows_;
    std::vector<HWND> in_message_; // form windows whose messages are being handled, innermost last
    std::vector<HWND> doomed_;
    GdiCache gdi_;
};

} // namespace window_system::win32
