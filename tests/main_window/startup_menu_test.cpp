// Start-up, the port menu, "Show Jet Fields", the detection dialog and closing.
#include "window_fixture.h"

using namespace std::string_literals;
using window_system::key_escape;

TEST_F(WindowTest, FirstRunOpensAndPollsCom1AndWritesNothing) {
    ports.add(3);
    ports.add(1);
    window().show();
    EXPECT_EQ(ports.devices[1].sent, "D");
    EXPECT_EQ(ports.devices[3].opens, 0);
    EXPECT_EQ(link.state.com_port, 1);
    EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
    EXPECT_EQ(ticked(), std::vector<int>{2});
    EXPECT_FALSE(window().mnShowJet.checked());
    EXPECT_EQ(window().outer_height(), 2300);
    EXPECT_EQ(window().txtCorr.text(), "107"); // the boxes still read "-": 2 - 50 + 5
    EXPECT_FALSE(connected_shown());
    EXPECT_FALSE(anything_stored());
}

TEST_F(WindowTest, StoredShowJetTicksTheOptionOnlyForTheValueOne) {
    const struct {
        const char* stored;
        bool ticked;
    } cases[] = {{"1", true},   {"1.0", true}, {" 1", true},  {"2", false},
                 {"-1", false}, {"", false},   {"yes", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        put("show_jet", c.stored);
        start();
        EXPECT_EQ(window().mnShowJet.checked(), c.ticked);
        EXPECT_EQ(window().outer_height(), c.ticked ? 3300 : 2300);
    }
}

TEST_F(WindowTest, StoredPortIsReadAsANumberAndRoundedHalvesToEven) {
    ports.names = {"COM2 (ttyS1)", "COM4 (ttyS3)"};
    const struct {
        const char* stored;
        int port;
        std::vector<int> ticks;
    } cases[] = {
        {"word", 0, {0}},  {"2.5", 2, {1}},    {"3.5", 4, {2}},   {"4", 4, {2}},
        {"70000", 0, {0}}, {"-40000", 0, {0}}, {"1e999", 0, {0}}, {"9", 9, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        put("weather_com", c.stored);
        start();
        EXPECT_EQ(link.state.com_port, c.port);
        EXPECT_EQ(ticked(), c.ticks);
    }
}

TEST_F(WindowTest, PortMenuFollowsShorterAndLongerListings) {
    ports.names = {"COM3\0"s, "COM1\0"s, "COM12\0"s};
    window().show();
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM3", "COM1", "COM12"}));
    EXPECT_EQ(window().item_number(1), 3);
    EXPECT_EQ(window().item_number(3), 12);
    EXPECT_EQ(window().mncom[3].name(), "mncom(3)");

    ports.names = {"CNCA0"};
    window().carga_coms();
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "CNCA0"}));
    EXPECT_EQ(window().mncom.count(), 4);     // the surplus items stay, hidden
    EXPECT_EQ(window().item_number(1), 1000); // a name without a number: a number of its own

    ports.names = {"COM5 (ttyS4)", "COM6 (ttyS5)", "COM7 (ttyS6)", "COM8 & more"};
    window().carga_coms();
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", "COM5 (ttyS4)", "COM6 (ttyS5)",
                                                       "COM7 (ttyS6)", "COM8 & more"}));
    EXPECT_EQ(window().mncom.count(), 5);
    EXPECT_EQ(window().item_number(4), 8);
    // The port items stand between "none" and the separator before "Auto".
    EXPECT_EQ(window().mnoptions.items()[5], &window().mn1);

    // Names come in the system's code page; the menu shows them as text, and the item numbers
    // still come from the listed bytes.
    ports.names = {"\xC7OM5 (\xBA)"};
    window().carga_coms();
#ifdef _WIN32
    const char* const shown = "\u00C7OM5 (\u00BA)"; // the ANSI code page, 1252
#else
    const char* const shown = "\uFFFDOM5 (\uFFFD)"; // not UTF-8
#endif
    EXPECT_EQ(shown_ports(), (std::vector<std::string>{"none", shown}));
    EXPECT_EQ(window().item_number(1), 5);

    ports.names.clear();
    window().carga_coms();
    EXPECT_EQ(shown_ports(), std::vector<std::string>{"none"});
}

TEST_F(WindowTest, AbrirPuertoTicksEveryItemOfThePortHiddenOnesIncluded) {
    ports.names = {"COM3", "CNCA0", "COM12", "COM3 (again)"};
    put("weather_com", "0");
    window().show();
    EXPECT_FALSE(window().Abrir_puerto(3)); // no such device: ticked all the same
    EXPECT_EQ(link.state.com_port, 3);
    EXPECT_EQ(ticked(), (std::vector<int>{1, 4}));
    window().Abrir_puerto(0);
    EXPECT_EQ(ticked(), std::vector<int>{0});

    ports.names = {"COM3"};
    window().carga_coms();
    window().Abrir_puerto(12);
    EXPECT_EQ(ticked(), std::vector<int>{3});
    EXPECT_FALSE(window().mncom[3].visible());
}

TEST_F(WindowTest, ChoosingAPortItemOpensThePortOfItsNumberOrName) {
    ports.add(7, "", "COM7 (ttyS6)");
    auto& named = ports.add_named("CNCA0");
    put("weather_com", "0");
    window().show();
    EXPECT_EQ(ticked(), std::vector<int>{0}); // "none" alone
    window().mncom[1].click();
    EXPECT_EQ(ports.devices[7].sent, "D");
    EXPECT_EQ(link.state.com_port, 7);
    EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
    EXPECT_EQ(ticked(), std::vector<int>{1});

    window().mncom[2].click(); // a port without a number is opened by its name
    EXPECT_EQ(named.sent, "D");
    EXPECT_EQ(link.state.com_port, 1000);
    EXPECT_TRUE(platform::is_open_handle(link.state.com_handle));
    EXPECT_EQ(ticked(), std::vector<int>{2});
}

TEST_F(WindowTest, ShowJetFieldsFlipsOncePerClickAndStoresItsTick) {
    window().show();
    EXPECT_EQ(stored("show_jet"), "<missing>");
    window().mnShowJet.click();
    EXPECT_TRUE(window().mnShowJet.checked());
    EXPECT_EQ(stored("show_jet"), "1");
    EXPECT_EQ(window().outer_height(), 3300);
    window().mnShowJet.click();
    EXPECT_FALSE(window().mnShowJet.checked());
    EXPECT_EQ(stored("show_jet"), "0");
    EXPECT_EQ(window().outer_height(), 2300);
    EXPECT_EQ(stored("weather_com"), "<missing>");
}

TEST_F(WindowTest, AutoAndBothPicturesShowTheDetectionDialogModally) {
    ports.add(3, "$#52.5,1,23.4,2,101325\r");
    window().show();
    window().Abrir_puerto(3);
    std::vector<std::string> seen;
    backend.on_modal = [&](window_system::Form& dialog) {
        seen.push_back(dialog.caption());
        EXPECT_TRUE(dialog.shown());
        EXPECT_FALSE(window().accepts_input());
        dialog.key_down(key_escape, 0);
    };
    window().mnAuto.click();
    window().imgConectado.set_visible(true); // whichever shows takes the click
    window().imgConectado.click();
    window().imgDesconectado.set_visible(true);
    window().imgDesconectado.click();
    EXPECT_EQ(seen, std::vector<std::string>(3, "Automatic COM Port Detection"));
    EXPECT_TRUE(window().accepts_input());
    EXPECT_EQ(link.state.com_port, 3); // it was probing COM3 when it closed
    EXPECT_TRUE(window().Timer1.enabled());
}

TEST_F(WindowTest, EscapeWithAnyShiftStateClosesTheWindowAndStoresThePort) {
    const int held[] = {0, window_system::shift_key, window_system::ctrl_key,
                        window_system::alt_key, window_system::shift_key | window_system::ctrl_key};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        put("weather_com", std::to_string(20 + i));
        start();
        put("weather_com", "junk");
        window().key_down('Q', window_system::ctrl_key);
        window().key_down(13, 0);
        EXPECT_TRUE(window().loaded());
        window().key_down(key_escape, held[i]);
        EXPECT_FALSE(window().loaded());
        EXPECT_EQ(stored("weather_com"), std::to_string(20 + i));
    }
}

TEST_F(WindowTest, ClosingStoresThePortAndClosesIt) {
    ports.add(4);
    ports.add_named("CNCA0");
    // A port without a number of its own is stored as no port; any other number as it is.
    const struct {
        int item;
        const char* stored;
    } cases[] = {{1, "4"}, {2, "0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        start();
        window().mncom[c.item].click();
        ASSERT_TRUE(platform::is_open_handle(link.state.com_handle));
        window().unload();
        EXPECT_EQ(stored("weather_com"), c.stored);
        EXPECT_EQ(link.state.com_handle, platform::no_handle);
        EXPECT_EQ(ports.open_count(), 0);
    }
}
