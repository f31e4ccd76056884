// The form layer on the headless backend: the scheduler's order, held ticks, closing inside a
// handler, arrived ports, change events, key preview, modal forms, control arrays, the client
// height an outer height leaves, and number formatting.
#include "desktop.h"
#include "headless.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace window_system;
using Log = std::vector<std::string>;

namespace {

class Layer : public ::testing::Test {
protected:
    Form& new_form(const std::string& name) {
        forms.push_back(std::make_unique<Form>(desktop, name));
        return *forms.back();
    }
    // A loaded form whose timer logs "<name>@<time>" at each tick.
    Timer& ticking(const std::string& name, int interval) {
        Form& f = new_form(name);
        Timer& t = f.add_timer("Timer1");
        t.on_timer = [this, name] { log.push_back(name + "@" + std::to_string(backend.now_ms())); };
        t.set_interval(interval);
        t.set_enabled(true);
        f.show();
        return t;
    }

    headless::Backend backend;
    Desktop desktop{backend};
    std::vector<std::unique_ptr<Form>> forms;
    Log log;
};

} // namespace

TEST_F(Layer, TicksRunInDueOrderAndTiesInTheOrderTheyWereSet) {
    ticking("a", 3000);
    backend.advance(1000);
    ticking("b", 2000); // due at 3000 as well, but set later
    ticking("c", 500);
    backend.advance(2000);
    EXPECT_EQ(log, (Log{"c@1500", "c@2000", "c@2500", "a@3000", "b@3000", "c@3000"}));
    EXPECT_EQ(backend.wake_up(), 3500);
}

TEST_F(Layer, TimersTickOnlyWhileTheirFormIsLoadedAndTheBackendIsAskedForEachWakeUp) {
    Form& f = new_form("f");
    Timer& t = f.add_timer("Timer1");
    t.set_interval(2000);
    t.set_enabled(true);
    EXPECT_EQ(backend.wake_up(), std::nullopt);
    backend.advance(1000);
    f.show();
    EXPECT_EQ(backend.wake_up(), 2000); // its countdown started with the timer
    f.unload();
    EXPECT_EQ(backend.wake_up(), std::nullopt);
}

TEST_F(Layer, IntervalAndStartingAStoppedTimerRestartTheCountdownButStartingARunningOneDoesNot) {
    Timer& t = ticking("a", 2000);
    backend.advance(1500);
    t.set_enabled(true); // running already
    backend.advance(500);
    EXPECT_EQ(log, Log{"a@2000"});
    backend.advance(1000);
    t.set_interval(2000);
    t.set_enabled(false);
    backend.advance(5000);
    t.set_enabled(true);
    backend.advance(2000);
    EXPECT_EQ(log, (Log{"a@2000", "a@10000"}));
    t.set_interval(0); // never ticks
    backend.advance(10000);
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(Layer, ATimerBlockedForSeveralBeatsTicksOnceAndKeepsItsBeat) {
    Timer& t = ticking("a", 1000);
    Form& blocker = new_form("blocker");
    Timer& block = blocker.add_timer("Timer1");
    block.on_timer = [&] {
        backend.pause(3500);
        block.set_enabled(false);
    };
    block.set_interval(500);
    block.set_enabled(true);
    blocker.show();
    backend.advance(5000);
    EXPECT_EQ(log, (Log{"a@4000", "a@5000"}));
    (void)t;
}

TEST_F(Layer, APumpHoldsTicksUntilTheHandlerThatPumpedHasReturned) {
    Form& f = new_form("f");
    Timer& fast = f.add_timer("fast");
    Timer& slow = f.add_timer("slow");
    fast.set_interval(100);
    fast.set_enabled(true);
    fast.on_timer = [&] { log.push_back("fast@" + std::to_string(backend.now_ms())); };
    slow.set_interval(1000);
    slow.set_enabled(true);
    slow.on_timer = [&] {
        log.push_back("probe begins");
        desktop.pause(1000);
        backend.post([&] {
            log.push_back("input");
            desktop.run_due_ticks(); // a wake-up that comes during the pump
        });
        desktop.pump_events();
        log.push_back("probe ends");
        slow.set_enabled(false);
    };
    f.show();
    backend.advance(1000);
    EXPECT_EQ(log, (Log{"fast@100", "fast@200", "fast@300", "fast@400", "fast@500", "fast@600",
                        "fast@700", "fast@800", "fast@900", "probe begins", "input", "probe ends",
                        "fast@2000"}));
}

TEST_F(Layer, ClosingInsideAHandlerHidesAtOnceAndUnloadsWhenTheHandlerHasReturned) {
    Form& f = new_form("f");
    Button& close = f.add<Button>("cmdClose");
    Timer& t = f.add_timer("Timer1");
    t.set_interval(1000);
    t.set_enabled(true);
    close.on_click = [&] { f.unload(); };
    f.on_unload = [&] { log.push_back("unload"); };
    t.on_timer = [&] {
        backend.post([&] { close.click(); });
        desktop.pump_events();
        log.push_back(f.shown() ? "shown" : "hidden");
        log.push_back(f.loaded() ? "loaded" : "unloaded");
    };
    f.show();
    backend.advance(1000);
    EXPECT_EQ(log, (Log{"hidden", "loaded", "unload"}));
    EXPECT_FALSE(f.loaded());
    EXPECT_FALSE(t.enabled()); // its timers go with it
    backend.advance(5000);
    EXPECT_EQ(log.size(), 3u);
}

// Every form window passes on the same arrival; one told while the forms hear (a handler that
// pumps) waits for the next round.
TEST_F(Layer, ArrivedPortsReachEveryFormOnceAtTheNextWakeUp) {
    for (const std::string name : {"a", "b"}) {
        Form& f = new_form(name);
        f.on_devices_changed = [this, name] {
            std::string heard = name + ":";
            for (const std::string& port : desktop.arrived_ports())
                heard += port + ",";
            log.push_back(heard);
            if (log.size() == 1) {
                backend.post([this] { desktop.devices_changed("COM7"); });
                desktop.pump_events();
            }
        };
        f.show();
    }
    desktop.devices_changed("COM5");
    desktop.devices_changed("COM5");
    desktop.devices_changed();
    desktop.devices_changed("CNCA0");
    EXPECT_TRUE(log.empty());
    backend.advance(0);
    backend.advance(0);
    EXPECT_EQ(log, (Log{"a:COM5,CNCA0,", "b:COM5,CNCA0,", "a:COM7,", "b:COM7,"}));
    EXPECT_TRUE(desktop.arrived_ports().empty());
    desktop.devices_changed();
    backend.advance(0);
    EXPECT_EQ(log.back(), "b:");
}

TEST_F(Layer, AChangeEventRunsOnlyWhenTheTextReallyChanges) {
    Form& f = new_form("f");
    TextBox& box = f.add<TextBox>("txt");
    int changes = 0;
    box.on_change = [&] { ++changes; };
    box.set_text("1");
    box.set_text("1");
    headless::Backend::type(box, "23");
    box.edited("123");
    EXPECT_EQ(box.text(), "123");
    EXPECT_EQ(changes, 3);
}

// A setter announces a change to the window only when it changes a value, and what a text box
// reports while its text is being set is not taken for the user's edit.
TEST_F(Layer, ChangesAreAnnouncedOnceAndTheTextBeingSetIsNoEdit) {
    Form& f = new_form("f");
    TextBox& box = f.add<TextBox>("txt");
    Label& label = f.add<Label>("lbl");
    Image& image = f.add<Image>("img");
    Button& button = f.add<Button>("cmd");
    f.show();
    int announced = 0;
    backend.on_announce = [&](Control* control, Property property) {
        ++announced;
        if (control == &box && property == Property::text)
            box.edited("echo of " + box.text());
    };
    int changes = 0;
    box.on_change = [&] { ++changes; };
    const std::vector<std::function<void()>> setters = {
        [&] {
            box.place({1, 2, 3, 4});
        },
        [&] {
            box.set_font({"Arial", 12, 700});
        },
        [&] { box.set_text("7"); },
        [&] { box.set_tooltip("tip"); },
        [&] { label.move(5, 6); },
        [&] { label.set_bold(true); },
        [&] {
            image.place({1, 2, 3, 4});
        },
        [&] {
            button.place({1, 2, 3, 4});
        },
        [&] { f.set_back_colour(0x123456); },
        [&] { f.set_outer_height(2300); },
        [&] { f.set_client_size(100, 200); },
        [&] { button.set_enabled(false); },
    };
    for (std::size_t i = 0; i < setters.size(); ++i) {
        setters[i]();
        setters[i]();
        EXPECT_EQ(announced, int(i) + 1) << "setter " << i;
    }
    EXPECT_EQ(box.text(), "7");
    EXPECT_EQ(changes, 1);
    box.edited("8");
    EXPECT_EQ(box.text(), "8");
    EXPECT_EQ(changes, 2);
}

// Whatever the backend, the focus goes first to the first visible, enabled box or button.
TEST_F(Layer, TheFirstFocusIsTheFirstVisibleEnabledBoxOrButton) {
    Form& f = new_form("f");
    f.add<Label>("lbl");
    f.add<Image>("img");
    TextBox& hidden = f.add<TextBox>("txtHidden");
    Button& disabled = f.add<Button>("cmdDisabled");
    TextBox& last = f.add<TextBox>("txtLast");
    hidden.set_visible(false);
    disabled.set_enabled(false);
    EXPECT_EQ(f.first_focus(), &last);
    disabled.set_enabled(true);
    EXPECT_EQ(f.first_focus(), &disabled);
    last.set_visible(false);
    disabled.set_visible(false);
    EXPECT_EQ(f.first_focus(), nullptr);
}

TEST_F(Layer, KeysReachTheFormOnlyWithKeyPreviewAndNothingReachesAFormBelowAModalOne) {
    Form& main = new_form("main");
    MenuItem& menu = main.add<MenuItem>("mnoptions", "Options", nullptr);
    MenuItem& item = main.add<MenuItem>("mnAuto", "Auto", &menu);
    Form& dialog = new_form("dialog");
    Button& button = dialog.add<Button>("cmdClose");
    main.on_key_down = [&](int key, int shift) {
        log.push_back("main key " + std::to_string(key) + " " + std::to_string(shift));
    };
    dialog.on_key_down = [&](int key, int) { log.push_back("dialog key " + std::to_string(key)); };
    button.on_click = [&] { log.push_back("dialog click"); };
    item.on_click = [&] {
        log.push_back("main click");
        dialog.show_modal();
    };
    main.show();
    main.key_down(key_escape, shift_key);
    main.key_preview = true;
    main.key_down(key_escape, shift_key | ctrl_key);
    dialog.key_preview = true;
    backend.on_modal = [&](Form& shown) {
        EXPECT_EQ(&shown, &dialog);
        main.key_down(key_escape, 0);
        item.click();
        dialog.key_down(key_escape, 0);
        button.click();
        dialog.unload();
    };
    item.click();
    EXPECT_EQ(log, (Log{"main key 27 3", "main click", "dialog key 27", "dialog click"}));
    item.click();
    EXPECT_EQ(log.size(), 7u);
}

TEST_F(Layer, ControlArrayItemsLoadOnceAndMenuItemsStandAfterTheItemBelowThem) {
    Form& f = new_form("f");
    MenuItem& menu = f.add<MenuItem>("mnoptions", "Options", nullptr);
    ControlArray<MenuItem> items(f, "mncom", 0, "none", &menu);
    f.add<MenuItem>("mnAuto", "Auto", &menu);
    items[0].set_checked(true);
    EXPECT_TRUE(items.load(2));
    EXPECT_TRUE(items.load(1));
    EXPECT_FALSE(items.load(2));
    EXPECT_EQ(items.count(), 3);
    std::vector<std::string> order;
    for (const MenuItem* m : menu.items())
        order.push_back(m->name());
    EXPECT_EQ(order, (std::vector<std::string>{"mncom(0)", "mncom(1)", "mncom(2)", "mnAuto"}));
    // Among all its siblings, or only the visible ones for a toolkit that leaves hidden ones out.
    EXPECT_EQ(menu.items().back()->place_in_menu(false), 3);
    EXPECT_EQ(menu.items().back()->place_in_menu(true), 1);
    EXPECT_EQ(f.add<MenuItem>("mnHelp", "R&D && more", nullptr).place_in_menu(true), 1);
    EXPECT_EQ(f.menu_bar().back()->menu_text(), "R&&D &&&& more");
    EXPECT_EQ(items[2].caption(), "none");
    EXPECT_FALSE(items[2].visible());
    EXPECT_FALSE(items[2].checked());
    EXPECT_THROW(items[3], std::out_of_range);

    ControlArray<Label> labels(f, "lblCOM", 1);
    labels[1].set_caption("COM1");
    labels[1].set_fore_colour(colours::grey);
    labels[1].move(240, 690);
    EXPECT_TRUE(labels.load(2));
    EXPECT_EQ(labels[2].name(), "lblCOM(2)");
    EXPECT_EQ(labels[2].fore_colour(), colours::grey);
    EXPECT_FALSE(labels[2].visible());
}

TEST_F(Layer, AnOuterHeightLeavesTheClientHeightOfTheStandardFrameInWholePixels) {
    Form& f = new_form("f");
    EXPECT_EQ(f.fitted_client_height(), std::nullopt);
    // Outer height and the height below the menu bar: 59 pixels of frame, the rest cut to
    // whole pixels.
    const std::pair<Twips, Twips> cases[] = {{2300, 1410}, {3300, 2415}, {2295, 1410},
                                             {2294, 1395}, {885, 0},     {600, 0}};
    for (const auto& [outer, client] : cases) {
        f.set_outer_height(outer);
        EXPECT_EQ(f.fitted_client_height(), client) << outer;
    }
}

TEST(NumberFormat, PatternsRoundHalvesAwayFromZeroOnTheShortestDecimalText) {
    const struct {
        float value;
        const char* pattern;
        const char* text;
    } cases[] = {
        {0.0f, "0.0", "0.0"},
        {0.25f, "0.0", "0.3"},
        {-0.25f, "0.0", "-0.3"},
        {2.35f, "0.0", "2.4"},
        {2.34f, "0.0", "2.3"},
        {9.95f, "0.0", "10.0"},
        {985.27f, "0.0", "985.3"},
        {1013.25f, "0.0", "1013.3"},
        {-12.75f, "0.0", "-12.8"},
        {-0.04f, "0.0", "-0.0"},
        {1e-30f, "0.0", "0.0"},
        {123456.0f, "0.0", "123456.0"},
        {1e20f, "0.0", "100000002004087734272.0"},
        {2.5f, "0", "3"},
        {1.005f, "0.00", "1.01"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_number(c.value, c.pattern, "."), c.text) << c.value << " " << c.pattern;
    EXPECT_EQ(format_number(985.27f, "0.0", ","), "985,3");
    EXPECT_EQ(format_number(std::numeric_limits<float>::infinity(), "0.0", "."), "-");
}

TEST(Units, TwipsArePixelsAtTheScreensDpiAndPicturesKeepTheirMask) {
    EXPECT_EQ(to_pixels(4245), 283);
    EXPECT_EQ(to_pixels(7), 0);
    EXPECT_EQ(to_pixels(8), 1);
    EXPECT_EQ(to_pixels(1440, 120), 120);
    EXPECT_EQ(to_pixels(3300, 144), 330);
    EXPECT_EQ(rgb(240, 240, 255), 0x00FFF0F0u);

    const char* const xpm[] = {"2 2 2 1", ". c None", "G c #00FF00", "G.", ".G"};
    const Picture p = picture_from_xpm(xpm);
    EXPECT_EQ(p.width, 2);
    EXPECT_EQ(p.at(0, 0), 0xFF00FF00u);
    EXPECT_EQ(p.at(1, 0), 0u);
}
