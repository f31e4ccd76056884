// The backend of the tests: no windows at all, a manual clock, and the user's input written by
// the test. A test moves the clock on with advance(), which runs every tick that falls due on
// the way at its own time, and acts on the forms through the model's input calls (a click on
// a menu item, a key press, typing into a box). A modal form runs its nested loop by calling
// the test's on_modal script.
#pragma once

#include "desktop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace window_system::headless {

class Backend : public window_system::Backend {
public:
    std::int64_t now_ms() override { return now_; }
    void wake_at(std::optional<std::int64_t> ms) override { wake_ = ms; }
    std::unique_ptr<FormPeer> create_window(Form& form) override;
    // A modal form: runs on_modal, which must close it. One that is still open afterwards is
    // closed here and counted in `left_open`, so that a test fails instead of hanging.
    void run_until_unloaded(Form& form) override;
    // Runs the input posted since the last pump, unless input has to wait.
    void pump(bool with_input) override;
    // The clock moves on; no tick runs meanwhile.
    void pause(int ms) override { now_ += ms; }
    std::string decimal_separator() override { return separator; }

    // Moves the clock on by `ms`, running each tick that falls due on the way at its due time.
    void advance(std::int64_t ms);
    void advance_to(std::int64_t time) { advance(time - now_); }
    // Types `text` after the box's text, one character (one change) at a time.
    static void type(TextBox& box, std::string_view text);
    // Input that the user gives while a handler runs: delivered by the next pump.
    void post(std::function<void()> input) { posted_.push_back(std::move(input)); }
    // The wake-up the desktop asked for last.
    std::optional<std::int64_t> wake_up() const { return wake_; }

    std::string separator = ".";
    // What each graph on a loaded form painted last, at 96 dpi in a 13-pixel font.
    std::map<const Graph*, std::vector<Primitive>> painted;
    // Each change the forms announce to their windows: the control, or null for the form.
    std::function<void(Control*, Property)> on_announce;
    std::function<void(Form&)> on_modal;
    int left_open = 0;
    int brought_to_front = 0;
    int pumps = 0;

private:
    std::int64_t now_ = 0;
    std::optional<std::int64_t> wake_;
    std::deque<std::function<void()>> posted_;
};

} // namespace window_system::headless
