// The child windows of the form's controls: made, placed and changed as the model says, with
// their fonts, tooltips and colours, and the images drawn by the form.
#include "window.h"

#include "text.h"

#include <commctrl.h>

namespace window_system::win32 {

int Window::id_of(const Control& control) const {
    const auto& controls = form_.controls();
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (controls[i].get() == &control)
            return first_control_id + int(i);
    return 0;
}

// The control with the command id `id`; none for any other id, such as those of the dialog
// manager's OK and Cancel.
Control* Window::control_at(int id) const {
    const auto& controls = form_.controls();
    const int place = id - first_control_id;
    return place >= 0 && std::size_t(place) < controls.size() ? controls[std::size_t(place)].get()
                                                              : nullptr;
}

// The control of one of this window's children, by the child's id.
Control* Window::control_of(HWND child) const {
    if (!child || GetAncestor(child, GA_PARENT) != hwnd_)
        return nullptr;
    Control* control = control_at(GetDlgCtrlID(child));
    return control && control->kind() != Control::Kind::menu_item ? control : nullptr;
}

HWND Window::child_of(const Control& control) const {
    const int id = control.kind() == Control::Kind::menu_item ? 0 : id_of(control);
    return id ? GetDlgItem(hwnd_, id) : nullptr;
}

void Window::build(Control& control) {
    if (control.kind() == Control::Kind::menu_item) {
        auto& item = static_cast<MenuItem&>(control);
        if (!menus_.count(&item))
            build_menu(item);
        return;
    }
    const int id = id_of(control);
    const wchar_t* window_class = L"STATIC";
    std::wstring text;
    DWORD style =
        WS_CHILD | (control.visible() ? WS_VISIBLE : 0) | (control.enabled() ? 0 : WS_DISABLED);
    DWORD ex_style = 0;
    Rect rect;
    Font font;
    switch (control.kind()) {
    case Control::Kind::text_box: {
        const auto& box = static_cast<const TextBox&>(control);
        window_class = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        ex_style = WS_EX_CLIENTEDGE;
        rect = box.rect();
        text = widen(box.text());
        font = box.font();
        break;
    }
    case Control::Kind::label: {
        const auto& label = static_cast<const Label&>(control);
        style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
        rect = {label.left(), label.top(), 0, 0}; // sized to its caption below
        text = widen(label.caption());
        font = label.font();
        break;
    }
    case Control::Kind::image:
        // Drawn by the form, so that the picture keeps its transparency on any background;
        // the text is what a screen reader or a test finds.
        style |= SS_OWNERDRAW | SS_NOTIFY;
        rect = static_cast<const Image&>(control).rect();
        text = widen(static_cast<Image&>(control).accessible_name);
        break;
    case Control::Kind::button:
        window_class = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON; // never a default button: Enter presses nothing
        rect = static_cast<const Button&>(control).rect();
        text = widen(static_cast<const Button&>(control).caption());
        break;
    case Control::Kind::graph:
        window_class = graph_class;
        rect = static_cast<const Graph&>(control).rect();
        break;
    case Control::Kind::menu_item:
        return;
    }
    // Made as the model holds it, in one call: each change after the creation would be a round
    // of messages of its own, and the window opens that much later.
    const int left = px(rect.left);
    const int top = px(rect.top);
    const HWND child =
        CreateWindowExW(ex_style, window_class, text.c_str(), style, left, top,
                        px(rect.left + rect.width) - left, px(rect.top + rect.height) - top, hwnd_,
                        reinterpret_cast<HMENU>(INT_PTR(id)), backend_.instance_, nullptr);
    if (!child)
        return; // the control is left out; the form works on without it
    if (control.kind() != Control::Kind::image)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(backend_.gdi_.font(font, dpi_)),
                     FALSE);
    if (control.kind() == Control::Kind::label)
        fit_label(child, static_cast<const Label&>(control));
    if (control.kind() == Control::Kind::text_box)
        set_tooltip(child, static_cast<const TextBox&>(control).tooltip());
}

void Window::changed(Control& control, Property property) {
    apply(control, property);
}

void Window::apply(Control& control, Property property) {
    if (control.kind() == Control::Kind::menu_item) {
        apply_menu(static_cast<MenuItem&>(control), property);
        return;
    }
    const HWND child = child_of(control);
    if (!child)
        return;
    if (property == Property::visible || property == Property::enabled) {
        const HWND focus = GetFocus();
        const bool had_focus = focus && (focus == child || IsChild(child, focus));
        if (property == Property::visible)
            ShowWindow(child, control.visible() ? SW_SHOWNA : SW_HIDE);
        else
            EnableWindow(child, control.enabled());
        // A control that can no longer take the focus hands it on, so that keys still reach
        // the window (Escape closes it whatever had the focus).
        if (had_focus && (!IsWindowVisible(child) || !IsWindowEnabled(child))) {
            const HWND next = GetNextDlgTabItem(hwnd_, child, FALSE);
            SetFocus(next && next != child ? next : hwnd_);
        }
        return;
    }
    switch (control.kind()) {
    case Control::Kind::text_box: {
        const auto& box = static_cast<const TextBox&>(control);
        if (property == Property::position)
            place(child, box.rect());
        else if (property == Property::text)
            set_text(child, box.text());
        else if (property == Property::font)
            set_font(child, box.font());
        else if (property == Property::colours)
            InvalidateRect(child, nullptr, TRUE);
        else if (property == Property::tooltip)
            set_tooltip(child, box.tooltip());
        break;
    }
    case Control::Kind::label: {
        const auto& label = static_cast<const Label&>(control);
        if (property == Property::position) {
            SetWindowPos(child, nullptr, px(label.left()), px(label.top()), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        } else if (property == Property::text || property == Property::font) {
            if (property == Property::text)
                SetWindowTextW(child, widen(label.caption()).c_str());
            else
                set_font(child, label.font());
            fit_label(child, label);
        } else if (property == Property::colours) {
            InvalidateRect(child, nullptr, TRUE);
        }
        break;
    }
    case Control::Kind::image: {
        const auto& image = static_cast<const Image&>(control);
        if (property == Property::position)
            place(child, image.rect());
        else if (property == Property::picture)
            InvalidateRect(child, nullptr, TRUE);
        break;
    }
    case Control::Kind::button: {
        const auto& button = static_cast<const Button&>(control);
        if (property == Property::position)
            place(child, button.rect());
        else if (property == Property::text)
            SetWindowTextW(child, widen(button.caption()).c_str());
        else if (property == Property::font)
            set_font(child, Font{});
        break;
    }
    case Control::Kind::graph:
        if (property == Property::position)
            place(child, static_cast<const Graph&>(control).rect());
        else if (property == Property::picture)
            InvalidateRect(child, nullptr, FALSE);
        break;
    case Control::Kind::menu_item:
        break;
    }
}

// Edges are rounded, not widths, so that controls that meet in twips meet in pixels.
void Window::place(HWND child, const Rect& r) {
    const int left = px(r.left);
    const int top = px(r.top);
    MoveWindow(child, left, top, px(r.left + r.width) - left, px(r.top + r.height) - top, TRUE);
}

// Text that the model sets is not the user's edit: its change notification is passed over.
void Window::set_text(HWND child, const std::string& text) {
    const std::wstring wide = widen(text);
    if (window_text(child) == wide)
        return;
    SetWindowTextW(child, wide.c_str());
}

void Window::set_font(HWND child, const Font& font) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(backend_.gdi_.font(font, dpi_)), TRUE);
}

// A label is exactly as wide as its caption and one line high, in its own font.
void Window::fit_label(HWND child, const Label& label) {
    const std::wstring text = widen(label.caption());
    SIZE size{};
    if (const HDC dc = GetDC(child)) {
        const HGDIOBJ old = SelectObject(dc, backend_.gdi_.font(label.font(), dpi_));
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        size.cy = metrics.tmHeight;
        SelectObject(dc, old);
        ReleaseDC(child, dc);
    }
    SetWindowPos(child, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The tips of the text boxes, once the window has been shown.
void Window::add_tooltips() {
    tooltips_ready_ = true;
    for (const auto& control : form_.controls())
        if (control->kind() == Control::Kind::text_box)
            if (const HWND child = child_of(*control))
                set_tooltip(child, static_cast<const TextBox&>(*control).tooltip());
}

// The tooltip control is a window of its own, and making it is the dearest step of a window's
// start: the tips wait until the window is on the screen (make_tooltips, posted by show).
void Window::set_tooltip(HWND child, const std::string& text) {
    if (!tooltips_ready_)
        return; // add_tooltips makes it
    if (!tooltip_) {
        if (text.empty())
            return;
        tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                   backend_.instance_, nullptr);
        if (!tooltip_)
            return;
        SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, px(tooltip_width));
    }
    std::wstring wide = widen(text);
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE; // understood by every version of the common controls
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(child);
    tool.lpszText = wide.data();
    if (tools_.insert(child).second)
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    else
        SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT Window::control_colours(HDC dc, HWND child) {
    const Control* found = control_of(child);
    if (!found)
        return reinterpret_cast<LRESULT>(back_brush());
    const Control& control = *found;
    if (control.kind() == Control::Kind::text_box) {
        const auto& box = static_cast<const TextBox&>(control);
        SetTextColor(dc, box.fore_colour() ? COLORREF(*box.fore_colour())
                                           : GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc,
                   box.back_colour() ? COLORREF(*box.back_colour()) : GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(box.back_colour() ? backend_.gdi_.brush(*box.back_colour())
                                                           : GetSysColorBrush(COLOR_WINDOW));
    }
    // Labels and buttons lie on the form's background.
    std::optional<Colour> fore;
    if (control.kind() == Control::Kind::label)
        fore = static_cast<const Label&>(control).fore_colour();
    SetTextColor(dc, fore ? COLORREF(*fore) : GetSysColor(COLOR_BTNTEXT));
    SetBkColor(dc,
               form_.back_colour() ? COLORREF(*form_.back_colour()) : GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(back_brush());
}

void Window::draw_image(const DRAWITEMSTRUCT& item) {
    const Control* control = control_of(item.hwndItem);
    if (!control || control->kind() != Control::Kind::image)
        return;
    const auto& image = static_cast<const Image&>(*control);
    FillRect(item.hDC, &item.rcItem, back_brush());
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    if (image.picture())
        DrawIconEx(item.hDC, item.rcItem.left, item.rcItem.top,
                   backend_.gdi_.icon(*image.picture(), width, height), width, height, 0, nullptr,
                   DI_NORMAL);
}

} // namespace window_system::win32
