// The window of one loaded form: its creation and end, showing and hiding, the form's own
// properties (caption, icon, colours, size), the focus and the layout at another DPI.
#include "window.h"

#include "dpi.h"
#include "text.h"

#include <algorithm>
#include <commctrl.h>
#include <stdexcept>

namespace window_system::win32 {

Window::Window(Backend& backend, Form& form) : backend_(backend), form_(form), dpi_(system_dpi()) {
    const std::vector<MenuItem*> menus = form.menu_bar();
    const bool with_menu = !menus.empty();
    const HWND owner = form.owner() ? backend.window_of(*form.owner()) : nullptr;
    if (const Window* below = backend.peer_of(owner))
        dpi_ = below->dpi_; // a dialog starts at the DPI of the window it opens over
    // A window with a menu bar is a main window: fixed size, minimisable. Any other is a
    // dialog-like popup with a caption and a system menu, owned by the window below it.
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN |
                        (with_menu ? WS_OVERLAPPED | WS_MINIMIZEBOX : WS_POPUP);
    const DWORD ex_style = WS_EX_CONTROLPARENT; // Tab walks through the controls
    RECT outer{0, 0, px(form.client_width()), px(form.client_height())};
    frame_rect(outer, style, with_menu, ex_style, dpi_);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;

    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    if (form.centred || !with_menu) {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& work = monitor.rcWork;
        if (form.centred) {
            x = work.left + (work.right - work.left - width) / 2;
            y = work.top + (work.bottom - work.top - height) / 2;
        } else { // a popup has no default place of its own
            RECT below{work.left, work.top, 0, 0};
            if (owner)
                GetWindowRect(owner, &below);
            x = below.left + metric(SM_CYCAPTION, dpi_);
            y = below.top + metric(SM_CYCAPTION, dpi_);
        }
    }
    hwnd_ = CreateWindowExW(ex_style, form_class, widen(form.caption()).c_str(), style, x, y, width,
                            height, owner, nullptr, backend.instance_, nullptr);
    if (!hwnd_)
        throw std::runtime_error("cannot create the window of " + form.name());
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    backend_.windows_[hwnd_] = this;
    if (const int dpi = window_dpi(hwnd_))
        dpi_ = dpi; // the window's place decides, which only now is known

    if (with_menu) {
        bar_ = CreateMenu();
        for (MenuItem* menu : menus)
            build_menu(*menu);
        SetMenu(hwnd_, bar_);
    }
    fit_size();

    // Created in the form's order: the order of the children is the tab order. A screen reader
    // names an edit box by the text of the label just before it in that order, so a box's
    // caption is made right before the box; labels take no focus, so Tab still walks the boxes
    // in the form's order.
    for (const auto& control : form.controls()) {
        if (control->kind() == Control::Kind::menu_item || child_of(*control))
            continue;
        if (Label* caption = caption_of(*control); caption && !child_of(*caption))
            build(*caption);
        build(*control);
    }
    if (form.icon())
        set_icons();
}

Window::~Window() {
    give_back_owner(); // first, so that the owner gets the activation back
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    backend_.windows_.erase(hwnd_);
    for (auto& [item, entry] : menus_)
        if (entry.popup && !entry.present)
            DestroyMenu(entry.popup); // the window destroys only the menus it shows
    const auto& busy = backend_.in_message_;
    if (std::find(busy.begin(), busy.end(), hwnd_) != busy.end()) {
        ShowWindow(hwnd_, SW_HIDE);
        backend_.destroy_later(hwnd_);
    } else {
        DestroyWindow(hwnd_);
    }
    // A form closed by a message that was sent, not posted (the session's end, say), is
    // handled inside GetMessageW, which would go on waiting: this wakes the loop that runs it.
    PostMessageW(backend_.wake_, WM_NULL, 0, 0);
}

void Window::show() {
    if (form_.modal() && form_.owner()) {
        const HWND owner = backend_.window_of(*form_.owner());
        if (owner && IsWindowEnabled(owner)) {
            EnableWindow(owner, FALSE);
            disabled_owner_ = owner;
        }
    }
    // A main window opens as the program was started (a shortcut may ask for it minimised).
    ShowWindow(hwnd_, bar_ && !form_.modal() ? SW_SHOWDEFAULT : SW_SHOW);
    restore_focus();
    UpdateWindow(hwnd_);
    if (!tooltips_ready_)
        PostMessageW(hwnd_, make_tooltips, 0, 0);
}

void Window::hide() {
    give_back_owner();
    ShowWindow(hwnd_, SW_HIDE);
}

void Window::give_back_owner() {
    if (disabled_owner_)
        EnableWindow(disabled_owner_, TRUE);
    disabled_owner_ = nullptr;
}

// The focus goes back where it was when the window was last active, or to the first control
// that takes it.
void Window::restore_focus() {
    HWND target = last_focus_;
    if (!target || !IsWindow(target) || !IsChild(hwnd_, target) || !IsWindowEnabled(target) ||
        !IsWindowVisible(target))
        target = form_.first_focus() ? child_of(*form_.first_focus()) : nullptr;
    if (target)
        SetFocus(target);
}

void Window::changed(Property property) {
    switch (property) {
    case Property::text:
        SetWindowTextW(hwnd_, widen(form_.caption()).c_str());
        break;
    case Property::picture:
        set_icons();
        break;
    case Property::size:
        fit_size();
        break;
    case Property::colours:
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        break;
    default:
        break;
    }
}

// The client area as laid out, or as high as the outer height set by code leaves on the
// standard frame, whatever frame and menu bar the window really has: the client rectangle lies
// below the menu bar, also one that wraps.
void Window::fit_size() {
    RECT outer{};
    GetWindowRect(hwnd_, &outer);
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int width = outer.right - outer.left + px(form_.client_width()) - client.right;
    const int height = outer.bottom - outer.top - client.bottom +
                       px(form_.fitted_client_height().value_or(form_.client_height()));
    if (width != outer.right - outer.left || height != outer.bottom - outer.top)
        SetWindowPos(hwnd_, nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The window has come onto a monitor of another DPI, or the user has changed the scale: it is
// laid out again at the new DPI, in the place that Windows suggests. Windows draws the frame
// and the menu bar at the new DPI itself; the size is then corrected for the client area.
void Window::rescale(int dpi, const RECT& suggested) {
    dpi_ = dpi;
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    for (const auto& control : form_.controls())
        if (control->kind() != Control::Kind::menu_item) {
            apply(*control, Property::font);
            apply(*control, Property::position);
        }
    if (tooltip_)
        SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, px(tooltip_width));
    set_icons();
    if (bar_)
        DrawMenuBar(hwnd_);
    fit_size();
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// The label that names a text box: the first whose caption is the box's accessible name.
Label* Window::caption_of(const Control& control) const {
    if (control.kind() != Control::Kind::text_box)
        return nullptr;
    const std::string& name = static_cast<const TextBox&>(control).accessible_name;
    if (name.empty())
        return nullptr;
    for (const auto& other : form_.controls())
        if (other->kind() == Control::Kind::label &&
            static_cast<const Label&>(*other).caption() == name)
            return static_cast<Label*>(other.get());
    return nullptr;
}

void Window::set_icons() {
    HICON small_icon = nullptr;
    HICON big_icon = nullptr;
    if (const Picture* picture = form_.icon()) {
        small_icon =
            backend_.gdi_.icon(*picture, metric(SM_CXSMICON, dpi_), metric(SM_CYSMICON, dpi_));
        big_icon = backend_.gdi_.icon(*picture, metric(SM_CXICON, dpi_), metric(SM_CYICON, dpi_));
    }
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon));
}

HBRUSH Window::back_brush() {
    return form_.back_colour() ? backend_.gdi_.brush(*form_.back_colour())
                               : GetSysColorBrush(COLOR_BTNFACE);
}

} // namespace window_system::win32
