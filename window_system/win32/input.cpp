// The messages of a form's window: the user's clicks and edits reach the model here, and so do
// the requests of Windows (close, colours, a new DPI, the session's end, devices).
#include "window.h"

#include "text.h"

namespace window_system::win32 {

LRESULT Window::command(WPARAM wp, LPARAM lp) {
    const int id = LOWORD(wp);
    const int code = HIWORD(wp);
    const auto from = reinterpret_cast<HWND>(lp);
    if (!from) { // a menu item; the dialog manager's OK and Cancel find no control
        Control* item = control_at(id);
        if (code == 0 && item && item->kind() == Control::Kind::menu_item)
            static_cast<MenuItem*>(item)->click();
        return 0;
    }
    Control* found = control_of(from);
    if (!found)
        return 0;
    Control& control = *found;
    if (control.kind() == Control::Kind::text_box && code == EN_CHANGE)
        static_cast<TextBox&>(control).edited(narrow(window_text(from)));
    else if (control.kind() == Control::Kind::button && code == BN_CLICKED)
        static_cast<Button&>(control).click();
    else if (control.kind() == Control::Kind::image && code == STN_CLICKED)
        static_cast<Image&>(control).click();
    return 0;
}

LRESULT Window::on_message(UINT msg, WPARAM wp, LPARAM lp) {
    const HWND hwnd = hwnd_;
    switch (msg) {
    case WM_COMMAND:
        return command(wp, lp);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return control_colours(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wp), &client, back_brush());
        return 1;
    }
    case WM_DRAWITEM:
        draw_image(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
        return TRUE;
    case WM_DPICHANGED:
        rescale(HIWORD(wp), *reinterpret_cast<const RECT*>(lp));
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus && IsChild(hwnd, focus))
                last_focus_ = focus;
            return 0;
        }
        if (HIWORD(wp) == 0) { // not minimised
            restore_focus();
            return 0;
        }
        break;
    case WM_SETFOCUS:
        restore_focus();
        return 0;
    case WM_CLOSE: // the close box, Alt+F4, the system menu
        if (form_.accepts_input())
            form_.unload();
        return 0;
    case make_tooltips:
        if (!tooltips_ready_)
            add_tooltips();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // Windows may end the process once this returns: every form closes now, the main
        // window storing its port as it does for Escape.
        if (wp)
            backend_.desktop().end_session();
        return 0;
    case WM_DEVICECHANGE:
        return backend_.device_change(wp, lp);
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace window_system::win32
