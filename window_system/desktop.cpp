#include "desktop.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <tuple>
#include <utility>

namespace window_system {

Desktop::Desktop(Backend& backend) : backend_(backend) {
    backend_.desktop_ = this;
}

Desktop::~Desktop() {
    backend_.desktop_ = nullptr;
}

void Desktop::pause(int ms) {
    for (Form* form : forms_)
        if (form->shown() && form->peer())
            form->peer()->paint_now();
    backend_.pause(ms);
}

void Desktop::pump_events() {
    // Before a modal form is on the screen (its load runs first), the user's keys and clicks
    // wait: the windows below it would otherwise act on them as if it were not there.
    const Form* top = top_modal();
    const bool with_input = top == nullptr || top->shown();
    ++pumping_;
    backend_.pump(with_input);
    --pumping_;
    reschedule(); // a wake-up that came during the pump was held
}

void Desktop::end_session() {
    // Copies: unloading changes the lists.
    const std::vector<Form*> modal = modal_;
    for (auto it = modal.rbegin(); it != modal.rend(); ++it)
        (*it)->unload();
    const std::vector<Form*> forms = forms_;
    for (auto it = forms.rbegin(); it != forms.rend(); ++it)
        (*it)->unload();
}

void Desktop::devices_changed(std::string arrived_port) {
    devices_changed_ = true;
    // The system may tell each window of the same arrival.
    if (!arrived_port.empty() &&
        std::find(arriving_.begin(), arriving_.end(), arrived_port) == arriving_.end())
        arriving_.push_back(std::move(arrived_port));
    reschedule();
}

bool Desktop::ticking(const Timer& timer) const {
    return timer.enabled_ && timer.interval_ > 0 && timer.form_.loaded();
}

void Desktop::run_due_ticks() {
    if (pumping_ > 0)
        return; // pump_events asks for the wake-up again once it is over
    if (std::exchange(devices_changed_, false)) {
        // Arrivals told while the forms hear (a handler that pumps) wait for the next round; a
        // round inside a handler (a modal form's loop) leaves the outer one its own list.
        std::vector<std::string> outer = std::exchange(arrived_, std::exchange(arriving_, {}));
        const std::vector<Form*> forms = forms_; // a handler may unload a form
        for (Form* form : forms)
            if (std::find(forms_.begin(), forms_.end(), form) != forms_.end() &&
                form->on_devices_changed)
                form->raise(form->on_devices_changed);
        arrived_ = std::move(outer);
    }
    for (;;) {
        const std::int64_t now = backend_.now_ms();
        Timer* next = nullptr;
        for (Timer* t : timers_)
            if (ticking(*t) && t->due_ <= now &&
                (!next || std::tie(t->due_, t->order_) < std::tie(next->due_, next->order_)))
                next = t;
        if (!next)
            break;
        // The next tick on the timer's own beat; beats missed while the thread was blocked are
        // dropped, not delivered in a burst.
        const std::int64_t interval = next->interval_;
        next->due_ += interval;
        if (next->due_ <= now)
            next->due_ += (now - next->due_) / interval * interval + interval;
        next->order_ = next_order_++;
        next->form_.raise(next->on_timer);
    }
    reschedule();
}

std::optional<std::int64_t> Desktop::next_due() const {
    if (devices_changed_)
        return backend_.now_ms();
    std::optional<std::int64_t> due;
    for (const Timer* t : timers_)
        if (ticking(*t) && (!due || t->due_ < *due))
            due = t->due_;
    return due;
}

void Desktop::restart(Timer& timer) {
    timer.due_ = backend_.now_ms() + timer.interval_;
    timer.order_ = next_order_++;
    reschedule();
}

void Desktop::reschedule() {
    backend_.wake_at(next_due());
}

void Desktop::remove(Timer& timer) {
    std::erase(timers_, &timer);
    reschedule();
}

void Desktop::loaded(Form& form) {
    forms_.push_back(&form);
    reschedule(); // its timers tick from now on
}

void Desktop::unloaded(Form& form) {
    std::erase(forms_, &form);
    reschedule();
}

void Desktop::pop_modal(Form& form) {
    std::erase(modal_, &form);
}

std::string Desktop::format(float value, std::string_view pattern) const {
    return format_number(value, pattern, backend_.decimal_separator());
}

namespace {

// Adds one to a text of decimal digits.
void increment_digits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

} // namespace

std::string format_number(float value, std::string_view pattern, std::string_view point) {
    if (!std::isfinite(value))
        return "-";
    const auto dot = pattern.find('.');
    const std::size_t places = dot == std::string_view::npos ? 0 : pattern.size() - dot - 1;
    char buf[128]; // the longest float in fixed notation has 45 decimals
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
    const std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
    const auto text_dot = text.find('.');
    std::string digits(text.substr(0, text_dot)); // whole part, then the kept decimals
    std::string decimals(text_dot == std::string_view::npos ? "" : text.substr(text_dot + 1));
    const bool round_up = decimals.size() > places && decimals[places] >= '5';
    decimals.resize(places, '0');
    digits += decimals;
    if (round_up)
        increment_digits(digits);
    std::string out = value < 0 ? "-" : "";
    out += std::string_view(digits).substr(0, digits.size() - places);
    if (places > 0) {
        out += point;
        out += std::string_view(digits).substr(digits.size() - places);
    }
    return out;
}

} // namespace window_system
