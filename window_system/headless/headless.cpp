#include "headless.h"

namespace window_system::headless {

namespace {

// Nothing to show: the model holds every property the tests read. The changes the form
// announces go to the test that listens.
class Window : public FormPeer {
public:
    explicit Window(Backend& backend) : backend_(backend) {}
    void show() override {}
    void hide() override {}
    void bring_to_front() override { ++backend_.brought_to_front; }
    void changed(Property property) override { announce(nullptr, property); }
    void changed(Control& control, Property property) override {
        if (control.kind() == Control::Kind::graph)
            paint(static_cast<const Graph&>(control));
        announce(&control, property);
    }
    void added(Control&) override {}
    void paint_now() override {}

private:
    void paint(const Graph& graph) {
        const Canvas canvas{to_pixels(graph.rect().width), to_pixels(graph.rect().height)};
        backend_.painted[&graph] = draw(graph.plot(), canvas);
    }
    void announce(Control* control, Property property) {
        if (backend_.on_announce)
            backend_.on_announce(control, property);
    }

    Backend& backend_;
};

} // namespace

std::unique_ptr<FormPeer> Backend::create_window(Form& form) {
    auto window = std::make_unique<Window>(*this);
    for (const auto& control : form.controls())
        if (control->kind() == Control::Kind::graph)
            window->changed(*control, Property::picture);
    return window;
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
