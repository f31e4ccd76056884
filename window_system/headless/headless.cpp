#include "headless.h"

namespace window_system::headless {

namespace {

// Nothing to show: the model holds every property the tests read.
class Window : public FormPeer {
public:
    void show() override {}
    void hide() override {}
    void changed(Property) override {}
    void changed(Control&, Property) override {}
    void added(Control&) override {}
    void paint_now() override {}
};

} // namespace

std::unique_ptr<FormPeer> Backend::create_window(Form&) {
    return std::make_unique<Window>();
}

void Backend::run_until_unloaded(Form& form) {
    const auto script = on_modal; // the script may set another one for a dialog of its own
    if (script)
        script(form);
    if (form.loaded()) {
        ++left_open;
        form.unload();
    }
}

void Backend::pump(bool with_input) {
    ++pumps;
    if (!with_input)
        return;
    for (auto pending = std::move(posted_); !pending.empty(); pending.pop_front())
        pending.front()();
}

void Backend::advance(std::int64_t ms) {
    const std::int64_t target = now_ + ms;
    for (;;) {
        const auto due = desktop().next_due();
        if (!due || *due > target)
            break;
        if (*due > now_)
            now_ = *due;
        desktop().run_due_ticks();
        if (desktop().next_due() == due && *due <= now_)
            break; // held: advance() was called from inside a pump
    }
    if (now_ < target)
        now_ = target;
}

void Backend::type(TextBox& box, std::string_view text) {
    for (const char c : text)
        box.edited(box.text() + c);
}

} // namespace window_system::headless
