// Windows and their controls as plain data: every property is held here, every event is raised
// here, and a backend (Qt, Win32, or the headless one of the tests) shows what the model holds
// and reports what the user does. The windows of the program are written once, on this model.
#pragma once

#include "picture.h"
#include "plot.h"
#include "units.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace window_system {

class Desktop;
class Form;
class FormPeer;

// The standard frame at 96 dpi that outer heights are reckoned on: title bar, menu bar and
// sizing border together, in pixels.
inline constexpr int standard_frame_pixels = 59;

// Key codes and shift states of a key-down event.
inline constexpr int key_escape = 27;
inline constexpr int key_f2 = 113;
inline constexpr int shift_key = 1;
inline constexpr int ctrl_key = 2;
inline constexpr int alt_key = 4;

// What has changed in a control or a form, for the backend that shows it.
enum class Property {
    text,     // a text box's text; the caption of a label, button, menu item or form
    colours,  // background or text colour
    font,     // font
    visible,  // visibility
    enabled,  // enabled state
    checked,  // a menu item's tick
    position, // left and top
    picture,  // an image's picture, a form's icon, a graph's plot
    tooltip,  // a text box's tooltip
    size,     // a form's client size or outer height
};

// Stores `value` in `field`; true when that changed it. A change is announced only then.
template <class T, class V> bool assign(T& field, V&& value) {
    if (field == value)
        return false;
    field = std::forward<V>(value);
    return true;
}

class Control {
public:
    enum class Kind { text_box, label, image, button, menu_item, graph };

    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    virtual Kind kind() const = 0;
    Form& form() const { return form_; }
    const std::string& name() const { return name_; }

    bool visible() const { return visible_; }
    void set_visible(bool visible);
    bool enabled() const { return enabled_; }
    void set_enabled(bool enabled);
    // Text boxes and buttons take the focus; labels, images and menu items never do.
    bool takes_focus() const { return kind() == Kind::text_box || kind() == Kind::button; }

protected:
    Control(Form& form, std::string name) : form_(form), name_(std::move(name)) {}
    void changed(Property property);

private:
    Form& form_;
    std::string name_;
    bool visible_ = true;
    bool enabled_ = true;
};

// A one-line text box. Its change event runs whenever its text really changes, typed by the
// user or set by code.
class TextBox : public Control {
public:
    TextBox(Form& form, std::string name) : Control(form, std::move(name)) {}
    Kind kind() const override { return Kind::text_box; }

    const Rect& rect() const { return rect_; }
    void place(const Rect& rect);
    const std::string& text() const { return text_; }
    void set_text(std::string text);
    // Empty: the system's colour for a text box.
    std::optional<Colour> back_colour() const { return back_colour_; }
    std::optional<Colour> fore_colour() const { return fore_colour_; }
    void set_back_colour(Colour colour);
    void set_fore_colour(Colour colour);
    const Font& font() const { return font_; }
    void set_font(const Font& font);
    const std::string& tooltip() const { return tooltip_; }
    void set_tooltip(std::string tooltip);
    // What a screen reader says for the box.
    std::string accessible_name;

    std::function<void()> on_change;
    // The user has changed the text to `text`: from a backend, or a test that types. What the
    // box reports while the form is setting its text is the form's own text, not an edit.
    void edited(std::string text);

private:
    Rect rect_;
    std::string text_;
    bool setting_text_ = false;
    std::optional<Colour> back_colour_;
    std::optional<Colour> fore_colour_;
    Font font_;
    std::string tooltip_;
};

// A label that sizes itself to its caption, growing to the right from its left edge.
class Label : public Control {
public:
    Label(Form& form, std::string name) : Control(form, std::move(name)) {}
    // A new item of a control array: the look of `like`, hidden.
    Label(Form& form, std::string name, const Label& like);
    Kind kind() const override { return Kind::label; }

    Twips left() const { return left_; }
    Twips top() const { return top_; }
    void move(Twips left, Twips top);
    const std::string& caption() const { return caption_; }
    void set_caption(std::string caption);
    std::optional<Colour> fore_colour() const { return fore_colour_; }
    void set_fore_colour(Colour colour);
    const Font& font() const { return font_; }
    void set_font(const Font& font);
    void set_bold(bool bold);
    // Text that the program keeps with the label; never shown.
    std::string tag;

private:
    Twips left_ = 0;
    Twips top_ = 0;
    std::string caption_;
    std::optional<Colour> fore_colour_;
    Font font_;
};

// A picture in the client area that takes clicks.
class Image : public Control {
public:
    Image(Form& form, std::string name) : Control(form, std::move(name)) {}
    Kind kind() const override { return Kind::image; }

    const Rect& rect() const { return rect_; }
    void place(const Rect& rect);
    const Picture* picture() const { return picture_; }
    void set_picture(const Picture* picture);
    std::string accessible_name;

    std::function<void()> on_click;
    void click();

private:
    Rect rect_;
    const Picture* picture_ = nullptr;
};

// A graph of readings over time. The form sets what it shows; the backend paints the
// primitives of draw() at the graph's size and shows describe_at() for the pointer.
class Graph : public Control {
public:
    Graph(Form& form, std::string name) : Control(form, std::move(name)) {}
    Kind kind() const override { return Kind::graph; }

    const Rect& rect() const { return rect_; }
    void place(const Rect& rect);
    const Plot& plot() const { return plot_; }
    // Every plot set or changed is announced: readings come at every tick. A change in place
    // spares copying a day of readings.
    void set_plot(Plot plot);
    void update_plot(const std::function<void(Plot&)>& change);

private:
    Rect rect_;
    Plot plot_;
};

class Button : public Control {
public:
    Button(Form& form, std::string name) : Control(form, std::move(name)) {}
    Kind kind() const override { return Kind::button; }

    const Rect& rect() const { return rect_; }
    void place(const Rect& rect);
    const std::string& caption() const { return caption_; }
    void set_caption(std::string caption);

    std::function<void()> on_click;
    // A click on a disabled button does nothing.
    void click();

private:
    Rect rect_;
    std::string caption_;
};

// A menu of the menu bar (no parent) or an item of one. The caption "-" makes a separator.
class MenuItem : public Control {
public:
    MenuItem(Form& form, std::string name, std::string caption, MenuItem* parent);
    // A new item of a control array: the caption of `like`, hidden, in `like`'s menu right after
    // `after` (or first when `after` is null).
    MenuItem(Form& form, std::string name, const MenuItem& like, const MenuItem* after);
    Kind kind() const override { return Kind::menu_item; }

    const std::string& caption() const { return caption_; }
    void set_caption(std::string caption);
    // The caption as a menu shows it: "&" is text, not the mark of an access key.
    std::string menu_text() const;
    bool separator() const { return caption_ == "-"; }
    bool checked() const { return checked_; }
    void set_checked(bool checked);
    // An item that takes a tick; some toolkits draw an empty box for it while it is unticked.
    bool checkable = false;
    MenuItem* parent() const { return parent_; }
    // The items below this one, in menu order.
    const std::vector<MenuItem*>& items() const { return items_; }
    // Where the item stands in its menu (the menu bar, for a menu): how many of the items before
    // it are there; with `visible_only`, how many of them are visible, for a toolkit that keeps
    // hidden items out of its menus.
    int place_in_menu(bool visible_only) const;

    std::function<void()> on_click;
    void click();

private:
    std::string caption_;
    bool checked_ = false;
    MenuItem* parent_ = nullptr;
    std::vector<MenuItem*> items_;
};

// Ticks every `interval` milliseconds while enabled. Setting the interval, or enabling a
// stopped timer, restarts the countdown; enabling a running timer changes nothing. An interval
// of 0 never ticks. The desktop's scheduler delivers the ticks of every timer in the order of
// their due times.
class Timer {
public:
    Timer(Form& form, std::string name);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    Form& form() const { return form_; }
    const std::string& name() const { return name_; }
    int interval() const { return interval_; }
    void set_interval(int ms);
    bool enabled() const { return enabled_; }
    void set_enabled(bool enabled);

    std::function<void()> on_timer;

private:
    friend class Desktop;
    void restart();

    Form& form_;
    std::string name_;
    int interval_ = 0;
    bool enabled_ = false;
    std::int64_t due_ = 0;    // when the next tick falls due, on the desktop's clock
    std::uint64_t order_ = 0; // ticks due at the same time run in the order they were set
};

// Several controls of one kind under one name, told apart by a signed 16-bit index. Items live
// as long as their form; none is ever removed.
template <class T> class ControlArray {
public:
    ControlArray(Form& form, std::string name) : form_(form), name_(std::move(name)) {}
    // The array with the layout's item `index`, made as T(form, "<name>(<index>)", args...).
    template <class... Args>
    ControlArray(Form& form, std::string name, std::int16_t index, Args&&... args);

    // Creates item `index`, like the array's lowest item but hidden (a menu item goes right
    // after the item below it). False, and nothing happens, when the item exists already.
    bool load(std::int16_t index);
    bool exists(std::int16_t index) const { return items_.count(index) != 0; }
    // Item `index`, which must exist.
    T& operator[](std::int16_t index) const {
        const auto it = items_.find(index);
        if (it == items_.end())
            throw std::out_of_range(name_ + ": no item " + std::to_string(index));
        return *it->second;
    }
    // How many items exist.
    int count() const { return static_cast<int>(items_.size()); }
    // Items in index order, as (index, item) pairs.
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::string item_name(std::int16_t index) const {
        return name_ + "(" + std::to_string(index) + ")";
    }

    Form& form_;
    std::string name_;
    std::map<std::int16_t, T*> items_;
};

// A window. It owns its controls and timers; they exist from its construction, while the
// backend's window exists only between load and unload.
class Form {
public:
    Form(Desktop& desktop, std::string name);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    Desktop& desktop() const { return desktop_; }
    const std::string& name() const { return name_; }

    // --- Properties ---
    const std::string& caption() const { return caption_; }
    void set_caption(std::string caption);
    Twips client_width() const { return client_width_; }
    Twips client_height() const { return client_height_; }
    void set_client_size(Twips width, Twips height);
    // Set by code: the height of the whole window, title bar, menu bar and frame included, as
    // on the standard frame at 96 dpi.
    std::optional<Twips> outer_height() const { return outer_height_; }
    void set_outer_height(Twips height);
    // The height below the menu bar that the outer height leaves on the standard frame; none
    // while no outer height is set. Backends size the window for this client height, with the
    // frame and menu bar it really has, so that every desktop shows the same rows.
    std::optional<Twips> fitted_client_height() const;
    std::optional<Colour> back_colour() const { return back_colour_; }
    void set_back_colour(Colour colour);
    const Picture* icon() const { return icon_; }
    void set_icon(const Picture* picture);
    // The font of the window and of every control that has no font of its own.
    Font font;
    // With key preview the form sees every key press before the control that has the focus.
    bool key_preview = false;
    // First position: centred on the screen, or the system's default place for a new window.
    bool centred = false;

    // --- Controls, in creation order, which is also the tab order ---
    template <class T, class... Args> T& add(Args&&... args) {
        auto control = std::make_unique<T>(*this, std::forward<Args>(args)...);
        T& made = *control;
        controls_.push_back(std::move(control));
        added(made);
        return made;
    }
    Timer& add_timer(std::string name);
    const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }
    // The menus of the menu bar, left to right.
    std::vector<MenuItem*> menu_bar() const;
    // The control that takes the focus when nothing else has it: the first visible, enabled
    // one that takes the focus at all.
    Control* first_focus() const;

    // --- Life ---
    // Loads the form when it is not loaded yet (the load event) and shows it.
    void show();
    // Loads the form and shows it modally: returns when it has been unloaded. The forms below
    // it take no input meanwhile.
    void show_modal();
    // A shown form's window comes in front of the others.
    void bring_to_front();
    // Closes the form: the query-unload and unload events, then its window goes and its timers
    // stop. Asked for inside one of this form's own handlers (a click delivered by a pump, say),
    // the window hides at once and the rest waits until that handler has returned, so that
    // nothing is taken away from under it.
    void unload();
    bool loaded() const { return life_ != Life::unloaded; }
    // True while its window is on the screen.
    bool shown() const { return life_ == Life::shown; }
    bool modal() const;
    // The form a modal form was shown over; none for a form shown modeless.
    Form* owner() const;

    std::function<void()> on_load;
    std::function<void()> on_query_unload;
    std::function<void()> on_unload;
    std::function<void(int key, int shift)> on_key_down;
    // Serial ports or other devices have come or gone.
    std::function<void()> on_devices_changed;

    // --- Input, from a backend or a test ---
    // A key went down in this window.
    void key_down(int key, int shift);
    // Runs `handler` as an event of this form; an unload asked for meanwhile waits for its end.
    void raise(const std::function<void()>& handler);
    // False while a modal form above this one is loaded: clicks and keys are then dropped.
    bool accepts_input() const;

    FormPeer* peer() const { return peer_.get(); }

private:
    friend class Control;
    void changed(Property property);
    void changed(Control& control, Property property);
    void added(Control& control);
    void load();
    void finish_unload();

    Desktop& desktop_;
    std::string name_;
    std::string caption_;
    Twips client_width_ = 0;
    Twips client_height_ = 0;
    std::optional<Twips> outer_height_;
    std::optional<Colour> back_colour_;
    const Picture* icon_ = nullptr;
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<std::unique_ptr<Timer>> timers_;
    std::unique_ptr<FormPeer> peer_;
    // Closing: hidden, its unload waiting for the handlers now running, or running its own.
    enum class Life { unloaded, loaded, shown, closing } life_ = Life::unloaded;
    int busy_ = 0; // handlers of this form now running
};

template <class T>
template <class... Args>
ControlArray<T>::ControlArray(Form& form, std::string name, std::int16_t index, Args&&... args)
    : ControlArray(form, std::move(name)) {
    items_[index] = &form_.template add<T>(item_name(index), std::forward<Args>(args)...);
}

template <class T> bool ControlArray<T>::load(std::int16_t index) {
    if (exists(index))
        return false;
    T* item = nullptr;
    if (items_.empty()) {
        if constexpr (std::is_same_v<T, MenuItem>)
            throw std::logic_error(name_ + ": a menu array starts with an item of the layout");
        else
            item = &form_.template add<T>(item_name(index));
    } else {
        const T& like = *items_.begin()->second;
        if constexpr (std::is_same_v<T, MenuItem>) {
            const auto above = items_.lower_bound(index);
            const MenuItem* after = above == items_.begin() ? nullptr : std::prev(above)->second;
            item = &form_.template add<T>(item_name(index), like, after);
        } else {
            item = &form_.template add<T>(item_name(index), like);
        }
    }
    items_[index] = item;
    return true;
}

} // namespace window_system
