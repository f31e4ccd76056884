// The window of one loaded form: a top-level window and the child windows of its controls.
#pragma once

#include "backend.h"

#include <map>
#include <set>

namespace window_system::win32 {

// Tooltips wrap at this width rather than running across the screen.
inline constexpr Twips tooltip_width = 6000;
// Posted to a window once it is shown: now its tooltips are made.
inline constexpr UINT make_tooltips = WM_APP + 1;

class Window : public FormPeer {
public:
    Window(Backend& backend, Form& form);
    ~Window() override;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void show() override;
    void hide() override;
    void bring_to_front() override {
        if (IsIconic(hwnd_))
            ShowWindow(hwnd_, SW_RESTORE);
        SetForegroundWindow(hwnd_);
    }
    void changed(Property property) override;
    void changed(Control& control, Property property) override;
    void added(Control& control) override { build(control); }
    void paint_now() override {
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }

    Form& form() const { return form_; }
    HWND hwnd() const { return hwnd_; }
    int px(Twips twips) const { return to_pixels(twips, dpi_); }
    // The child window of a control, found by its command id; none for a menu item.
    HWND child_of(const Control& control) const;
    // Handles one message of the window. The model's handlers may unload the form and so
    // delete this object: nothing of it is touched after a call into the model.
    LRESULT on_message(UINT msg, WPARAM wp, LPARAM lp);
    // The window procedure of a graph's child (graph.cpp).
    static LRESULT CALLBACK graph_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

private:
    friend class Backend;
    struct MenuEntry {
        HMENU popup = nullptr; // a menu of the menu bar, or an item with items of its own
        bool present = false;  // in its menu now: a hidden item is taken out
    };

    int id_of(const Control& control) const;
    Control* control_at(int id) const;
    Control* control_of(HWND child) const;
    void add_tooltips();
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
    Canvas canvas_of(HWND child, HDC dc) const;
    void paint_graph(HWND child, HDC dc);
    void point_at(HWND child, int x);
    LRESULT command(WPARAM wp, LPARAM lp);

    Backend& backend_;
    Form& form_;
    int dpi_;
    HWND hwnd_ = nullptr;
    HMENU bar_ = nullptr;
    HWND tooltip_ = nullptr;
    bool tooltips_ready_ = false; // the window has been shown
    HWND disabled_owner_ = nullptr;
    HWND last_focus_ = nullptr;
    std::map<const MenuItem*, MenuEntry> menus_;
    // The children that have a tooltip. The tooltip control would tell too (TTM_GETTOOLINFO),
    // but only by copying the tip's text into a buffer of no stated size.
    std::set<HWND> tools_;
};

} // namespace window_system::win32
