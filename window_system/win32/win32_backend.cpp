#include "win32_backend.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <commctrl.h>
#include <set>
#include <stdexcept>

namespace window_system::win32 {

namespace {

constexpr UINT_PTR wake_timer_id = 1;
// How many messages one pump handles at most: a window that keeps asking to be painted, or a
// flood of posted messages, must not turn one pass into an endless loop.
constexpr int pump_limit = 1000;
// Tooltips wrap at this width rather than running across the screen.
constexpr Twips tooltip_width = 6000;
// Posted to a window once it is shown: now its tooltips are made.
constexpr UINT make_tooltips = WM_APP + 1;

std::wstring window_text(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    if (length <= 0)
        return {};
    std::wstring text(std::size_t(length) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(std::size_t(std::max(got, 0)));
    return text;
}

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

// A function of user32.dll that older Windows lack: null there.
template <class Fn> Fn user32_function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const FARPROC proc = user32 ? GetProcAddress(user32, name) : nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// The DPI of the monitor a window is on, as Windows 10 tells it; 0 where Windows cannot.
int window_dpi(HWND hwnd) {
    static const auto get = user32_function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    return get ? int(get(hwnd)) : 0;
}

// A system metric at `dpi`: asked of Windows 10, scaled from the system DPI's before it.
int metric(int index, int dpi) {
    static const auto get = user32_function<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return get ? get(index, UINT(dpi)) : MulDiv(GetSystemMetrics(index), dpi, system_dpi());
}

// The window rectangle around `rect` as the client area, with the frame and menu bar at `dpi`.
void frame_rect(RECT& rect, DWORD style, bool menu, DWORD ex_style, int dpi) {
    static const auto adjust =
        user32_function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, style, menu, ex_style, UINT(dpi)))
        AdjustWindowRectEx(&rect, style, menu, ex_style);
}

// A raster face comes in a few fixed sizes, and text in it keeps one of them at any DPI: it is
// drawn by its TrueType twin, which scales.
const wchar_t* truetype_face(const wchar_t* face) {
    static const std::pair<const wchar_t*, const wchar_t*> twins[] = {
        {L"MS Sans Serif", L"Microsoft Sans Serif"},
    };
    for (const auto& [raster, truetype] : twins)
        if (lstrcmpiW(face, raster) == 0)
            return truetype;
    return face;
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

std::wstring widen(const std::string& text) {
    if (text.empty())
        return {};
    const int size = int(std::min<std::size_t>(text.size(), INT_MAX));
    UINT code_page = CP_UTF8;
    DWORD flags = MB_ERR_INVALID_CHARS;
    int length = MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
    if (length <= 0) {
        code_page = CP_ACP;
        flags = 0;
        length = MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
    }
    if (length <= 0)
        return {};
    std::wstring wide(std::size_t(length), L'\0');
    MultiByteToWideChar(code_page, flags, text.data(), size, wide.data(), length);
    return wide;
}

std::string narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = int(std::min<std::size_t>(text.size(), INT_MAX));
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string utf8(std::size_t(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
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

// --- The window of one loaded form ---

class Window : public FormPeer {
public:
    Window(Backend& backend, Form& form);
    ~Window() override;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void show() override;
    void hide() override;
    void changed(Property property) override;
    void changed(Control& control, Property property) override;
    void added(Control& control) override { build(control); }
    void paint_now() override {
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }

    Form& form() const { return form_; }
    HWND hwnd() const { return hwnd_; }
    int px(Twips twips) const { return to_pixels(twips, dpi_); }
    HWND child_of(const Control& control) const {
        const auto it = children_.find(&control);
        return it == children_.end() ? nullptr : it->second;
    }
    // Handles one message of the window. The model's handlers may unload the form and so
    // delete this object: nothing of it is touched after a call into the model.
    LRESULT on_message(UINT msg, WPARAM wp, LPARAM lp);

private:
    friend class Backend;
    struct MenuEntry {
        HMENU popup = nullptr; // a menu of the menu bar, or an item with items of its own
        bool present = false;  // in its menu now: a hidden item is taken out
    };

    int id_of(const Control& control) const;
    void build(Control& control);
    void build_menu(MenuItem& item);
    HMENU parent_menu(const MenuItem& item) const;
    void put_in(MenuItem& item);
    void take_out(MenuItem& item);
    void apply(Control& control, Property property);
    void apply_menu(MenuItem& item, Property property);
    void place(HWND child, const Rect& rect);
    void set_text(HWND child, const std::string& text);
    void set_font(HWND child, const Font& font);
    void fit_label(HWND child, const Label& label);
    void set_tooltip(HWND child, const std::string& text);
    void set_icons();
    void fit_size();
    void rescale(int dpi, const RECT& suggested);
    Label* caption_of(const Control& control) const;
    void restore_focus();
    void give_back_owner();
    HBRUSH back_brush();
    LRESULT control_colours(HDC dc, HWND child);
    void draw_image(const DRAWITEMSTRUCT& item);
    LRESULT command(WPARAM wp, LPARAM lp);

    Backend& backend_;
    Form& form_;
    int dpi_;
    HWND hwnd_ = nullptr;
    HMENU bar_ = nullptr;
    HWND tooltip_ = nullptr;
    bool tooltips_ready_ = false;              // the window has been shown
    std::map<HWND, std::string> pending_tips_; // tips set before that
    HWND disabled_owner_ = nullptr;
    HWND last_focus_ = nullptr;
    std::map<const Control*, HWND> children_;
    std::map<HWND, Control*> by_hwnd_;
    std::map<int, Control*> by_id_;
    std::map<const MenuItem*, MenuEntry> menus_;
    std::set<HWND> tools_; // the children that have a tooltip
};

Window::Window(Backend& backend, Form& form) : backend_(backend), form_(form), dpi_(backend.dpi_) {
    const std::vector<MenuItem*> menus = form.menu_bar();
    const bool with_menu = !menus.empty();
    const HWND owner = form.owner() ? backend.hwnd_of(*form.owner()) : nullptr;
    if (const Window* below = backend.window_of(owner))
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
    if (backend.monitor_dpi_)
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
        if (control->kind() == Control::Kind::menu_item || children_.count(control.get()))
            continue;
        if (Label* caption = caption_of(*control); caption && !children_.count(caption))
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

int Window::id_of(const Control& control) const {
    const auto& controls = form_.controls();
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (controls[i].get() == &control)
            return first_control_id + int(i);
    return 0;
}

void Window::show() {
    if (form_.modal() && form_.owner()) {
        const HWND owner = backend_.hwnd_of(*form_.owner());
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
        small_icon = backend_.icon(*picture, metric(SM_CXSMICON, dpi_), metric(SM_CYSMICON, dpi_));
        big_icon = backend_.icon(*picture, metric(SM_CXICON, dpi_), metric(SM_CYICON, dpi_));
    }
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon));
}

// --- Menus ---

void Window::build_menu(MenuItem& item) {
    MenuEntry& entry = menus_[&item];
    if (!item.parent() || !item.items().empty())
        entry.popup = CreatePopupMenu();
    by_id_[id_of(item)] = &item;
    for (MenuItem* child : item.items())
        build_menu(*child);
    if (item.visible())
        put_in(item);
}

HMENU Window::parent_menu(const MenuItem& item) const {
    if (!item.parent())
        return bar_;
    const auto it = menus_.find(item.parent());
    return it == menus_.end() ? nullptr : it->second.popup;
}

void Window::put_in(MenuItem& item) {
    MenuEntry& entry = menus_.at(&item);
    const HMENU menu = parent_menu(item);
    if (entry.present || !menu)
        return;
    std::wstring text = widen(item.menu_text());
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE;
    info.fType = item.separator() ? MFT_SEPARATOR : MFT_STRING;
    info.fState = (item.checked() ? MFS_CHECKED : MFS_UNCHECKED) |
                  (item.enabled() ? MFS_ENABLED : MFS_DISABLED);
    info.wID = UINT(id_of(item));
    if (!item.separator()) {
        info.fMask |= MIIM_STRING;
        info.dwTypeData = text.data();
    }
    if (entry.popup) {
        info.fMask |= MIIM_SUBMENU;
        info.hSubMenu = entry.popup;
    }
    entry.present = InsertMenuItemW(menu, UINT(item.place_in_menu(true)), TRUE, &info) != FALSE;
}

void Window::take_out(MenuItem& item) {
    MenuEntry& entry = menus_.at(&item);
    const HMENU menu = parent_menu(item);
    if (!entry.present || !menu)
        return;
    // RemoveMenu, not DeleteMenu: a menu of its own stays for when the item comes back.
    RemoveMenu(menu, UINT(item.place_in_menu(true)), MF_BYPOSITION);
    entry.present = false;
}

void Window::apply_menu(MenuItem& item, Property property) {
    const auto it = menus_.find(&item);
    if (it == menus_.end())
        return;
    const HMENU menu = parent_menu(item);
    const bool present = it->second.present;
    switch (property) {
    case Property::visible:
        if (item.visible())
            put_in(item);
        else
            take_out(item);
        break;
    case Property::text:
        if (present) {
            std::wstring text = widen(item.menu_text());
            MENUITEMINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_FTYPE | (item.separator() ? 0 : MIIM_STRING);
            info.fType = item.separator() ? MFT_SEPARATOR : MFT_STRING;
            info.dwTypeData = text.data();
            SetMenuItemInfoW(menu, UINT(item.place_in_menu(true)), TRUE, &info);
        }
        break;
    case Property::checked:
        if (present)
            CheckMenuItem(menu, UINT(item.place_in_menu(true)),
                          MF_BYPOSITION | (item.checked() ? MF_CHECKED : MF_UNCHECKED));
        break;
    case Property::enabled:
        if (present)
            EnableMenuItem(menu, UINT(item.place_in_menu(true)),
                           MF_BYPOSITION | (item.enabled() ? MF_ENABLED : MF_GRAYED));
        break;
    default:
        return;
    }
    // Only the bar itself is drawn now; a menu's items are drawn when it opens.
    if (!item.parent())
        DrawMenuBar(hwnd_);
}

// --- Controls ---

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
    children_[&control] = child;
    by_hwnd_[child] = &control;
    by_id_[id] = &control;
    if (control.kind() != Control::Kind::image)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(backend_.font(font, dpi_)), FALSE);
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
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(backend_.font(font, dpi_)), TRUE);
}

// A label is exactly as wide as its caption and one line high, in its own font.
void Window::fit_label(HWND child, const Label& label) {
    const std::wstring text = widen(label.caption());
    SIZE size{};
    if (const HDC dc = GetDC(child)) {
        const HGDIOBJ old = SelectObject(dc, backend_.font(label.font(), dpi_));
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

// The tooltip control is a window of its own, and making it is the dearest step of a window's
// start: the tips wait until the window is on the screen (make_tooltips, posted by show).
void Window::set_tooltip(HWND child, const std::string& text) {
    if (!tooltips_ready_) {
        pending_tips_[child] = text;
        return;
    }
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

// --- Messages ---

HBRUSH Window::back_brush() {
    return form_.back_colour() ? backend_.brush(*form_.back_colour())
                               : GetSysColorBrush(COLOR_BTNFACE);
}

LRESULT Window::control_colours(HDC dc, HWND child) {
    const auto it = by_hwnd_.find(child);
    if (it == by_hwnd_.end())
        return reinterpret_cast<LRESULT>(back_brush());
    const Control& control = *it->second;
    if (control.kind() == Control::Kind::text_box) {
        const auto& box = static_cast<const TextBox&>(control);
        SetTextColor(dc, box.fore_colour() ? COLORREF(*box.fore_colour())
                                           : GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc,
                   box.back_colour() ? COLORREF(*box.back_colour()) : GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(box.back_colour() ? backend_.brush(*box.back_colour())
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
    const auto it = by_hwnd_.find(item.hwndItem);
    if (it == by_hwnd_.end() || it->second->kind() != Control::Kind::image)
        return;
    const auto& image = static_cast<const Image&>(*it->second);
    FillRect(item.hDC, &item.rcItem, back_brush());
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    if (image.picture())
        DrawIconEx(item.hDC, item.rcItem.left, item.rcItem.top,
                   backend_.icon(*image.picture(), width, height), width, height, 0, nullptr,
                   DI_NORMAL);
}

LRESULT Window::command(WPARAM wp, LPARAM lp) {
    const int id = LOWORD(wp);
    const int code = HIWORD(wp);
    const auto from = reinterpret_cast<HWND>(lp);
    if (!from) { // a menu item; the dialog manager's OK and Cancel find no control
        const auto it = by_id_.find(id);
        if (code == 0 && it != by_id_.end() && it->second->kind() == Control::Kind::menu_item)
            static_cast<MenuItem*>(it->second)->click();
        return 0;
    }
    const auto it = by_hwnd_.find(from);
    if (it == by_hwnd_.end())
        return 0;
    Control& control = *it->second;
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
        if (!tooltips_ready_) {
            tooltips_ready_ = true;
            for (const auto& [child, text] : std::exchange(pending_tips_, {}))
                set_tooltip(child, text);
        }
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

// --- Backend ---

Backend::Backend() : Backend(system_dpi()) {
    monitor_dpi_ = true;
}

Backend::Backend(int dpi) : instance_(GetModuleHandleW(nullptr)), dpi_(dpi > 0 ? dpi : 96) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    register_class(instance_, form_class, form_proc);
    register_class(instance_, wake_class, wake_proc);
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
    for (auto& [colour, brush] : brushes_)
        DeleteObject(brush);
    for (auto& [key, font] : fonts_)
        if (font)
            DeleteObject(font);
    for (auto& [key, icon] : icons_)
        if (icon)
            DestroyIcon(icon);
    UnregisterClassW(form_class, instance_);
    UnregisterClassW(wake_class, instance_);
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

Window* Backend::window_of(HWND hwnd) const {
    const auto it = windows_.find(hwnd);
    return it == windows_.end() ? nullptr : it->second;
}

HWND Backend::hwnd_of(const Form& form) const {
    for (const auto& [hwnd, window] : windows_)
        if (&window->form() == &form)
            return hwnd;
    return nullptr;
}

HWND Backend::hwnd_of(const Control& control) const {
    for (const auto& [hwnd, window] : windows_)
        if (&window->form() == &control.form())
            return window->child_of(control);
    return nullptr;
}

void Backend::handle(MSG& msg) {
    const HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    // Key preview: the form hears the key before the focused control, and a key that closed
    // the form goes no further. Escape would otherwise reach the dialog manager as Cancel.
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)
        if (Window* window = window_of(root)) {
            Form& form = window->form();
            form.key_down(int(msg.wParam), shift_state());
            if (!window_of(root) || !form.shown()) {
                destroy_doomed();
                return;
            }
        }
    if (!window_of(root) || !IsDialogMessageW(root, &msg)) {
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

HBRUSH Backend::brush(Colour colour) {
    auto it = brushes_.find(colour);
    if (it == brushes_.end())
        it = brushes_.emplace(colour, CreateSolidBrush(COLORREF(colour & 0xFFFFFF))).first;
    return it->second;
}

// The point size in pixels at `dpi`, rounded to the nearest (13.5 points: 18 pixels at 96 dpi,
// 23 at 120). A named font is taken in the Western character set, as a TrueType face; the empty
// name is the dialog font.
HFONT Backend::font(const Font& f, int dpi) {
    const int height = -MulDiv(int(std::lround(f.points * 10)), dpi, 720);
    const int weight = std::clamp(f.weight, 1, 1000);
    const auto key = std::make_tuple(f.name, height, weight);
    auto it = fonts_.find(key);
    if (it == fonts_.end()) {
        const bool dialog = f.name.empty();
        const std::wstring name = widen(f.name);
        const wchar_t* face = dialog ? L"MS Shell Dlg 2" : truetype_face(name.c_str());
        const HFONT made = CreateFontW(
            height, 0, 0, 0, weight, FALSE, FALSE, FALSE, dialog ? DEFAULT_CHARSET : ANSI_CHARSET,
            dialog ? OUT_DEFAULT_PRECIS : OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
            DEFAULT_PITCH | FF_SWISS, face);
        it = fonts_.emplace(key, made).first;
    }
    return it->second;
}

// The picture at `width` x `height` pixels in blocks, unsmoothed: a 32-bit colour bitmap with
// its alpha, and a monochrome mask that is set where the picture is transparent.
HICON Backend::icon(const Picture& picture, int width, int height) {
    const auto key = std::make_tuple(&picture, width, height);
    if (const auto it = icons_.find(key); it != icons_.end())
        return it->second;
    HICON made = nullptr;
    if (width > 0 && height > 0 && picture.width > 0 && picture.height > 0 &&
        picture.argb.size() >= std::size_t(picture.width) * std::size_t(picture.height)) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down, as the picture's rows are
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        const HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (colour && bits) {
            const std::size_t stride = std::size_t((width + 15) / 16 * 2); // rows of whole WORDs
            std::vector<BYTE> mask(stride * std::size_t(height), 0);
            auto* pixels = static_cast<std::uint32_t*>(bits);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const std::uint32_t argb =
                        picture.at(x * picture.width / width, y * picture.height / height);
                    const bool opaque = (argb >> 24) != 0;
                    pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] =
                        opaque ? 0xFF000000u | (argb & 0xFFFFFFu) : 0;
                    if (!opaque)
                        mask[std::size_t(y) * stride + std::size_t(x / 8)] |= BYTE(0x80 >> (x % 8));
                }
            if (const HBITMAP mono = CreateBitmap(width, height, 1, 1, mask.data())) {
                ICONINFO parts{};
                parts.fIcon = TRUE;
                parts.hbmMask = mono;
                parts.hbmColor = colour;
                made = CreateIconIndirect(&parts); // copies both bitmaps
                DeleteObject(mono);
            }
        }
        if (colour)
            DeleteObject(colour);
    }
    icons_.emplace(key, made);
    return made;
}

} // namespace window_system::win32
