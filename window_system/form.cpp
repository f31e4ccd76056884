#include "desktop.h"

#include <algorithm>

namespace window_system {

// --- Control ---

void Control::changed(Property property) {
    form_.changed(*this, property);
}

void Control::set_visible(bool visible) {
    if (assign(visible_, visible))
        changed(Property::visible);
}

void Control::set_enabled(bool enabled) {
    if (assign(enabled_, enabled))
        changed(Property::enabled);
}

// --- TextBox ---

void TextBox::place(const Rect& rect) {
    if (assign(rect_, rect))
        changed(Property::position);
}

void TextBox::set_text(std::string text) {
    if (!assign(text_, std::move(text)))
        return;
    setting_text_ = true;
    changed(Property::text);
    setting_text_ = false;
    form().raise(on_change);
}

void TextBox::edited(std::string text) {
    if (!setting_text_ && assign(text_, std::move(text)))
        form().raise(on_change);
}

void TextBox::set_back_colour(Colour colour) {
    if (assign(back_colour_, colour))
        changed(Property::colours);
}

void TextBox::set_fore_colour(Colour colour) {
    if (assign(fore_colour_, colour))
        changed(Property::colours);
}

void TextBox::set_font(const Font& font) {
    if (assign(font_, font))
        changed(Property::font);
}

void TextBox::set_tooltip(std::string tooltip) {
    if (assign(tooltip_, std::move(tooltip)))
        changed(Property::tooltip);
}

// --- Label ---

Label::Label(Form& form, std::string name, const Label& like)
    : Control(form, std::move(name)), left_(like.left_), top_(like.top_), caption_(like.caption_),
      fore_colour_(like.fore_colour_), font_(like.font_) {
    set_visible(false);
}

void Label::move(Twips left, Twips top) {
    const bool moved_across = assign(left_, left);
    if (assign(top_, top) || moved_across)
        changed(Property::position);
}

void Label::set_caption(std::string caption) {
    if (assign(caption_, std::move(caption)))
        changed(Property::text);
}

void Label::set_fore_colour(Colour colour) {
    if (assign(fore_colour_, colour))
        changed(Property::colours);
}

void Label::set_font(const Font& font) {
    if (assign(font_, font))
        changed(Property::font);
}

void Label::set_bold(bool bold) {
    Font f = font_;
    f.weight = bold ? 700 : 400;
    set_font(f);
}

// --- Image ---

void Image::place(const Rect& rect) {
    if (assign(rect_, rect))
        changed(Property::position);
}

void Image::set_picture(const Picture* picture) {
    if (assign(picture_, picture))
        changed(Property::picture);
}

void Image::click() {
    if (visible() && enabled() && form().accepts_input())
        form().raise(on_click);
}

// --- Graph ---

void Graph::place(const Rect& rect) {
    if (assign(rect_, rect))
        changed(Property::position);
}

void Graph::set_plot(Plot plot) {
    plot_ = std::move(plot);
    changed(Property::picture);
}

void Graph::update_plot(const std::function<void(Plot&)>& change) {
    change(plot_);
    changed(Property::picture);
}

// --- Button ---

void Button::place(const Rect& rect) {
    if (assign(rect_, rect))
        changed(Property::position);
}

void Button::set_caption(std::string caption) {
    if (assign(caption_, std::move(caption)))
        changed(Property::text);
}

void Button::click() {
    if (visible() && enabled() && form().accepts_input())
        form().raise(on_click);
}

// --- MenuItem ---

MenuItem::MenuItem(Form& form, std::string name, std::string caption, MenuItem* parent)
    : Control(form, std::move(name)), caption_(std::move(caption)), parent_(parent) {
    if (parent_)
        parent_->items_.push_back(this);
}

MenuItem::MenuItem(Form& form, std::string name, const MenuItem& like, const MenuItem* after)
    : Control(form, std::move(name)), checkable(like.checkable), caption_(like.caption_),
      parent_(like.parent_) {
    set_visible(false);
    if (!parent_)
        return;
    auto& siblings = parent_->items_;
    const auto at = std::find(siblings.begin(), siblings.end(), after);
    siblings.insert(at == siblings.end() ? siblings.begin() : std::next(at), this);
}

void MenuItem::set_caption(std::string caption) {
    if (assign(caption_, std::move(caption)))
        changed(Property::text);
}

std::string MenuItem::menu_text() const {
    std::string text;
    for (const char c : caption_)
        text += c == '&' ? "&&" : std::string(1, c);
    return text;
}

int MenuItem::place_in_menu(bool visible_only) const {
    const std::vector<MenuItem*> siblings = parent_ ? parent_->items_ : form().menu_bar();
    int place = 0;
    for (const MenuItem* sibling : siblings) {
        if (sibling == this)
            break;
        place += !visible_only || sibling->visible();
    }
    return place;
}

void MenuItem::set_checked(bool checked) {
    if (assign(checked_, checked))
        changed(Property::checked);
}

void MenuItem::click() {
    if (visible() && enabled() && !separator() && form().accepts_input())
        form().raise(on_click);
}

// --- Timer ---

Timer::Timer(Form& form, std::string name) : form_(form), name_(std::move(name)) {
    form_.desktop().add(*this);
}

Timer::~Timer() {
    form_.desktop().remove(*this);
}

void Timer::set_interval(int ms) {
    interval_ = std::max(0, ms);
    restart();
}

void Timer::set_enabled(bool enabled) {
    if (assign(enabled_, enabled))
        restart();
}

void Timer::restart() {
    form_.desktop().restart(*this);
}

// --- Form ---

Form::Form(Desktop& desktop, std::string name) : desktop_(desktop), name_(std::move(name)) {}

Form::~Form() {
    // The form's own handlers are gone with the class that set them: nothing is raised now.
    peer_.reset();
    desktop_.pop_modal(*this);
    if (loaded())
        desktop_.unloaded(*this);
}

void Form::set_caption(std::string caption) {
    if (assign(caption_, std::move(caption)))
        changed(Property::text);
}

void Form::set_client_size(Twips width, Twips height) {
    const bool wider = assign(client_width_, width);
    if (assign(client_height_, height) || wider)
        changed(Property::size);
}

void Form::set_outer_height(Twips height) {
    if (assign(outer_height_, height))
        changed(Property::size);
}

std::optional<Twips> Form::fitted_client_height() const {
    if (!outer_height_)
        return std::nullopt;
    // The window system sizes in whole pixels: the pixels of the outer height at 96 dpi, less
    // the frame's.
    constexpr Twips pixel = 15;
    return pixel * std::max(0, *outer_height_ / pixel - standard_frame_pixels);
}

void Form::set_back_colour(Colour colour) {
    if (assign(back_colour_, colour))
        changed(Property::colours);
}

void Form::set_icon(const Picture* picture) {
    if (assign(icon_, picture))
        changed(Property::picture);
}

Timer& Form::add_timer(std::string name) {
    timers_.push_back(std::make_unique<Timer>(*this, std::move(name)));
    return *timers_.back();
}

std::vector<MenuItem*> Form::menu_bar() const {
    std::vector<MenuItem*> menus;
    for (const auto& c : controls_)
        if (c->kind() == Control::Kind::menu_item) {
            auto* item = static_cast<MenuItem*>(c.get());
            if (!item->parent())
                menus.push_back(item);
        }
    return menus;
}

Control* Form::first_focus() const {
    for (const auto& control : controls_)
        if (control->takes_focus() && control->visible() && control->enabled())
            return control.get();
    return nullptr;
}

void Form::show() {
    if (life_ == Life::unloaded) {
        load();
        if (life_ == Life::unloaded)
            return; // closed during its own load
    }
    if (life_ != Life::loaded)
        return; // on the screen, or closing
    life_ = Life::shown;
    peer_->show();
}

void Form::bring_to_front() {
    if (shown())
        peer_->bring_to_front();
}

void Form::show_modal() {
    if (loaded())
        return; // already on the screen
    desktop_.push_modal(*this);
    show();
    if (loaded())
        desktop_.backend().run_until_unloaded(*this);
    desktop_.pop_modal(*this);
}

bool Form::modal() const {
    const auto& stack = desktop_.modal_;
    return std::find(stack.begin(), stack.end(), this) != stack.end();
}

Form* Form::owner() const {
    const auto& stack = desktop_.modal_;
    const auto at = std::find(stack.begin(), stack.end(), this);
    if (at == stack.end())
        return nullptr;
    if (at != stack.begin())
        return *std::prev(at);
    const auto& forms = desktop_.forms();
    return forms.empty() || forms.front() == this ? nullptr : forms.front();
}

void Form::load() {
    life_ = Life::loaded;
    desktop_.loaded(*this);
    peer_ = desktop_.backend().create_window(*this);
    raise(on_load);
}

void Form::unload() {
    if (life_ == Life::unloaded || life_ == Life::closing)
        return;
    if (busy_ > 0) {
        if (life_ == Life::shown && peer_)
            peer_->hide();
        life_ = Life::closing;
        return;
    }
    finish_unload();
}

void Form::finish_unload() {
    life_ = Life::closing; // a close asked for by the handlers below changes nothing
    ++busy_;
    if (on_query_unload)
        on_query_unload();
    if (on_unload)
        on_unload();
    --busy_;
    for (auto& timer : timers_)
        timer->set_enabled(false);
    peer_.reset();
    life_ = Life::unloaded;
    desktop_.unloaded(*this);
}

void Form::raise(const std::function<void()>& handler) {
    if (!handler)
        return;
    ++busy_;
    handler();
    if (--busy_ == 0 && life_ == Life::closing)
        finish_unload();
}

void Form::key_down(int key, int shift) {
    if (!loaded() || !key_preview || !on_key_down || !accepts_input())
        return;
    raise([&] { on_key_down(key, shift); });
}

bool Form::accepts_input() const {
    const Form* top = desktop_.top_modal();
    return loaded() && (top == nullptr || top == this);
}

void Form::changed(Property property) {
    if (peer_)
        peer_->changed(property);
}

void Form::changed(Control& control, Property property) {
    if (peer_)
        peer_->changed(control, property);
}

void Form::added(Control& control) {
    if (peer_)
        peer_->added(control);
}

} // namespace window_system
