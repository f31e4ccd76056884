// The main window as it is created, before any start-up handling.
#include "window_fixture.h"

using namespace window_system;

TEST_F(WindowTest, IsCreatedWithTheLaidOutBoxesLabelsPicturesAndMenu) {
    main_window::frmNimbrel& f = window();
    EXPECT_EQ(f.name(), "frmNimbrel");
    EXPECT_EQ(f.caption(), "Travenor Nimbrel");
    EXPECT_EQ(f.client_width(), 4245);
    EXPECT_EQ(f.client_height(), 2220);
    EXPECT_EQ(f.back_colour(), 0x00FFF0F0u);
    EXPECT_TRUE(f.key_preview);
    EXPECT_FALSE(f.centred);

    const struct {
        TextBox& box;
        const char* name;
        const char* text;
        Rect rect;
        const char* caption;
        Twips label_top;
    } rows[] = {
        {f.txtHumidity, "txtHumidity", "-", {450, 120, 1155, 480}, "Humidity (%)", 210},
        {f.txtPressure, "txtPressure", "-", {450, 525, 1155, 480}, "Pressure (mb)", 630},
        {f.txtTemperature, "txtTemperature", "-", {450, 930, 1155, 480}, "Temperature (ºC)", 1020},
        {f.txtJetSize, "txtJetSize", "150", {750, 1560, 855, 285}, "Original Jet Size", 1620},
        {f.txtCorr, "txtCorr", "", {750, 1860, 855, 285}, "Calculated Jet Size", 1890},
    };
    std::vector<const Control*> focusable;
    for (const auto& c : f.controls())
        if (c->kind() == Control::Kind::text_box)
            focusable.push_back(c.get());
    ASSERT_EQ(focusable.size(), 5u);
    for (std::int16_t i = 0; i < 5; ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(focusable[std::size_t(i)], &row.box); // the tab order
        EXPECT_EQ(row.box.name(), row.name);
        EXPECT_EQ(row.box.text(), row.text);
        EXPECT_EQ(row.box.rect(), row.rect);
        EXPECT_EQ(row.box.accessible_name, row.caption);
        EXPECT_EQ(f.label[i].name(), "label(" + std::to_string(i) + ")");
        EXPECT_EQ(f.label[i].caption(), row.caption);
        EXPECT_EQ(f.label[i].left(), 1680);
        EXPECT_EQ(f.label[i].top(), row.label_top);
        EXPECT_TRUE(f.label[i].visible());
    }
    EXPECT_NE(f.label[2].caption().find("\u00BA"), std::string::npos); // not the degree sign
    EXPECT_EQ(f.label[2].caption().find("\u00B0"), std::string::npos);

    for (const TextBox* box : {&f.txtHumidity, &f.txtPressure, &f.txtTemperature}) {
        EXPECT_EQ(box->back_colour(), colours::grey);
        EXPECT_EQ(box->fore_colour(), colours::green);
        EXPECT_EQ(box->font(), (Font{"MS Sans Serif", 13.5, 700}));
    }
    EXPECT_EQ(f.txtCorr.back_colour(), colours::light_grey);
    EXPECT_EQ(f.txtCorr.fore_colour(), std::nullopt);
    EXPECT_EQ(f.txtJetSize.font(), Font{});

    for (const Image* picture : {&f.imgConectado, &f.imgDesconectado})
        EXPECT_EQ(picture->rect(), (Rect{3780, 60, 240, 240}));
    EXPECT_EQ(f.imgConectado.picture(), &main_window::connected_picture());
    EXPECT_EQ(f.imgDesconectado.picture(), &main_window::disconnected_picture());
    EXPECT_EQ(f.imgConectado.accessible_name, "Connected");
    EXPECT_EQ(f.imgDesconectado.accessible_name, "Disconnected");

    EXPECT_EQ(f.Timer1.interval(), 2000);
    EXPECT_TRUE(f.Timer1.enabled());

    ASSERT_EQ(f.menu_bar(), std::vector<MenuItem*>{&f.mnoptions});
    EXPECT_EQ(f.mnoptions.caption(), "Options");
    std::vector<std::string> items;
    for (const MenuItem* item : f.mnoptions.items())
        items.push_back(item->name() + " " + item->caption());
    EXPECT_EQ(items,
              (std::vector<std::string>{
                  "mncom(0) none", "mn1 -", "mnAuto Auto", "mn2 -", "mnShowJet Show Jet Fields",
                  "mn3 -", "mnHistory History", "mnMarkRun Mark Run", "mnLog Log Readings",
                  "mnLogFolder Open Log Folder", "mn4 -", "mnEngines Engines",
                  "mnBaseline Set Baseline", "mnStandard Correction Standard"}));
    EXPECT_FALSE(f.mnShowJet.checked());
    EXPECT_EQ(f.item_number(0), 0); // "none" holds no number
}

TEST_F(WindowTest, TheFirstTickComesTwoSecondsAfterTheWindowIsCreated) {
    ports.add(1, "$#52.5,1,23.4,2,101325\r");
    window().show();
    ports.devices[1].sent.clear();
    backend.advance(1999);
    EXPECT_EQ(ports.devices[1].sent, "");
    backend.advance(1);
    EXPECT_EQ(ports.devices[1].sent, "D");
    backend.advance(2000);
    EXPECT_EQ(ports.devices[1].sent, "DD");
}
