// The desktop that the forms live on: the backend that shows them, the one scheduler of every
// timer, the modal forms, and the services of pausing, pumping and the user's number format.
#pragma once

#include "form.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace window_system {

// What a backend keeps of one loaded form: its window and its toolkit's controls.
class FormPeer {
public:
    virtual ~FormPeer() = default;
    // The window comes on the screen; when the form is modal, the other windows take no input
    // until it goes.
    virtual void show() = 0;
    virtual void hide() = 0;
    // The shown window comes in front of the others and takes the input.
    virtual void bring_to_front() = 0;
    virtual void changed(Property property) = 0;
    virtual void changed(Control& control, Property property) = 0;
    // A control created after the window: an item of a control array.
    virtual void added(Control& control) = 0;
    // Paints what has changed, now: the thread is about to block.
    virtual void paint_now() = 0;
};

class Desktop;

// What a toolkit gives the model.
class Backend {
public:
    virtual ~Backend() = default;
    // Milliseconds on a clock that never goes back.
    virtual std::int64_t now_ms() = 0;
    // Asks for one call of desktop().run_due_ticks() once the clock has reached `ms`, in place of
    // the request before; nothing: no call is needed.
    virtual void wake_at(std::optional<std::int64_t> ms) = 0;
    // The window of `form` with all its controls, not yet shown.
    virtual std::unique_ptr<FormPeer> create_window(Form& form) = 0;
    // Handles events until `form` has been unloaded.
    virtual void run_until_unloaded(Form& form) = 0;
    // Handles the events that are pending now, once. Without `with_input`, keys and clicks stay
    // queued.
    virtual void pump(bool with_input) = 0;
    // Blocks the thread for `ms` milliseconds.
    virtual void pause(int ms) = 0;
    // The decimal separator of the user's locale, as UTF-8.
    virtual std::string decimal_separator() = 0;

    Desktop& desktop() const { return *desktop_; }

private:
    friend class Desktop;
    Desktop* desktop_ = nullptr;
};

class Desktop {
public:
    explicit Desktop(Backend& backend);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    Backend& backend() const { return backend_; }
    std::int64_t now() const { return backend_.now_ms(); }

    // Blocks the thread for `ms` milliseconds, after painting what has changed.
    void pause(int ms);
    // Handles pending events once. A tick that falls due meanwhile is held until the pump has
    // returned, so that no timer handler runs inside another handler.
    void pump_events();
    // `value` in `pattern` ("0", "0.0", "0.00", ...) with the user's decimal separator.
    std::string format(float value, std::string_view pattern) const;
    std::string decimal_separator() const { return backend_.decimal_separator(); }
    // The session is ending: every loaded form is closed, the topmost modal one first.
    void end_session();
    // The machine's devices have changed (an adapter plugged in or pulled out), bringing the
    // serial port `arrived_port` ("COM5") when the system named one. Every loaded form hears of
    // it (on_devices_changed) at the next wake-up, never inside a pump.
    void devices_changed(std::string arrived_port = {});
    // While the forms hear of a change: the ports that have arrived since they last heard, each
    // once, in the order they came.
    const std::vector<std::string>& arrived_ports() const { return arrived_; }

    // --- The scheduler ---
    // Runs every tick that has fallen due, in the order of their due times (ties in the order
    // they were set), then asks the backend for the next wake-up. Backends call it when the
    // wake-up comes.
    void run_due_ticks();
    // When the next tick falls due, or now when a change of devices waits to be told; nothing
    // when no timer runs.
    std::optional<std::int64_t> next_due() const;

    // The modal form that now takes the input, if any.
    Form* top_modal() const { return modal_.empty() ? nullptr : modal_.back(); }
    // The loaded forms, in the order they were loaded.
    const std::vector<Form*>& forms() const { return forms_; }

private:
    friend class Form;
    friend class Timer;
    void add(Timer& timer) { timers_.push_back(&timer); }
    void remove(Timer& timer);
    void restart(Timer& timer);
    void reschedule();
    bool ticking(const Timer& timer) const;
    void loaded(Form& form);
    void unloaded(Form& form);
    void push_modal(Form& form) { modal_.push_back(&form); }
    void pop_modal(Form& form);

    Backend& backend_;
    std::vector<Timer*> timers_;
    std::vector<Form*> forms_;
    std::vector<Form*> modal_; // innermost last
    int pumping_ = 0;
    bool devices_changed_ = false;
    std::vector<std::string> arriving_; // until the forms hear
    std::vector<std::string> arrived_;  // while they hear
    std::uint64_t next_order_ = 0;
};

// `value` in `pattern`: at least one digit before `point`, and as many after it as the pattern
// has zeros after its "."; rounded halves away from zero on the shortest decimal text that
// gives back the float (a reading sent as 2.35 and held as 2.3499999 shows as 2.4, as the
// station meant it); "-" before a negative value. A value that is not finite gives "-".
std::string format_number(float value, std::string_view pattern, std::string_view point);

} // namespace window_system
