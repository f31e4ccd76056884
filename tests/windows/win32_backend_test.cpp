// The Win32 backend shows what the model holds: real windows on a display, read back with
// Win32 calls. Run by run-under-wine on its own X server at 96 dpi.
#include "backend.h"
#include "desktop.h"
#include "dpi.h"
#include "frmNimbrel.h"
#include "memory_store.h"
#include "pictures.h"
#include "scripted_stations.h"
#include "settings_store.h"
#include "temp_dir.h"
#include "text.h"
#include "weather.h"

#include <algorithm>
#include <commctrl.h>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <dbt.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace window_system;

using test_support::MemoryStore;

// The items of a menu as it shows them, "-" for a separator and "[x]" before a ticked one.
std::vector<std::wstring> menu_items(HMENU menu) {
    std::vector<std::wstring> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        const UINT state = GetMenuState(menu, UINT(i), MF_BYPOSITION);
        if (state & MF_SEPARATOR) {
            items.push_back(L"-");
            continue;
        }
        GetMenuStringW(menu, UINT(i), text, 64, MF_BYPOSITION);
        items.push_back(std::wstring(state & MF_CHECKED ? L"[x]" : L"") + text);
    }
    return items;
}

// A click on the menu item with `caption`, as the menu sends it.
void choose(HWND window, HMENU menu, const std::wstring& caption) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, UINT(i), text, 64, MF_BYPOSITION);
        if (caption == text) {
            PostMessageW(window, WM_COMMAND, GetMenuItemID(menu, i), 0);
            return;
        }
    }
    ADD_FAILURE() << "no menu item " << std::string(caption.begin(), caption.end());
}

// A notice of an arrived port as Windows sends it, the name after the header; the notice's size
// covers the first `kept` characters of the name only.
std::vector<DWORD> port_notice(const std::wstring& name, std::size_t kept) {
    constexpr std::size_t name_at = offsetof(DEV_BROADCAST_PORT_W, dbcp_name);
    const std::size_t bytes = (name.size() + 1) * sizeof(wchar_t);
    std::vector<DWORD> words((name_at + bytes + 3) / 4, 0);
    auto* notice = reinterpret_cast<DEV_BROADCAST_PORT_W*>(words.data());
    notice->dbcp_size = DWORD(name_at + kept * sizeof(wchar_t));
    notice->dbcp_devicetype = DBT_DEVTYP_PORT;
    std::memcpy(reinterpret_cast<char*>(words.data()) + name_at, name.c_str(), bytes);
    return words;
}

SIZE size_of(HWND hwnd, bool client) {
    RECT r{};
    client ? GetClientRect(hwnd, &r) : GetWindowRect(hwnd, &r);
    return {r.right - r.left, r.bottom - r.top};
}

// Windows' notice that `hwnd` has come onto a monitor at `dpi`, with the place it suggests:
// `start`, the window at 96 dpi, moved a little and scaled. Returns that place.
RECT move_to_dpi(HWND hwnd, const RECT& start, int dpi) {
    const RECT to{start.left + 7, start.top + 5,
                  start.left + 7 + MulDiv(start.right - start.left, dpi, 96),
                  start.top + 5 + MulDiv(start.bottom - start.top, dpi, 96)};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&to));
    return to;
}

void press(HWND target, WPARAM key) {
    PostMessageW(target, WM_KEYDOWN, key, 1);
}

class Win32Backend : public ::testing::Test {
protected:
    // The main window on scripted ports COM3 and COM1, loaded and shown.
    main_window::frmNimbrel& main_window() {
        ports.add(3);
        ports.add(1, "$#52.5,1,23.4,2,101325\r");
        window = std::make_unique<main_window::frmNimbrel>(desktop, link, store);
        window->log_folder = logs.path();
        window->show();
        backend.pump(true);
        return *window;
    }

    win32::Backend backend;
    Desktop desktop{backend};
    test_support::ScriptedStations ports;
    weather::Link link{ports, ports};
    MemoryStore store;
    test_support::TempDir logs;
    std::unique_ptr<main_window::frmNimbrel> window;
};

TEST_F(Win32Backend, MainWindowClientAreaInPixelsWithAndWithoutTheJetRows) {
    auto& w = main_window();
    const HWND hwnd = backend.window_of(w);
    ASSERT_EQ(win32::system_dpi(), 96);
    EXPECT_EQ(size_of(hwnd, true).cx, 283); // 4245 twips
    // The reading rows to their end at 1410 twips and no more, whatever frame Wine draws (the
    // 59 pixels of Windows' make the outer height 2300 twips).
    EXPECT_EQ(size_of(hwnd, true).cy, 94);
    const LONG width = size_of(hwnd, false).cx;
    choose(hwnd, GetSubMenu(GetMenu(hwnd), 0), L"Show Jet Fields");
    backend.pump(true);
    EXPECT_EQ(size_of(hwnd, true).cy, 161); // 2415 twips; txtCorr ends at 2145
    EXPECT_EQ(size_of(hwnd, false).cx, width);
    EXPECT_EQ(store.values["show_jet"], "1");
}

TEST_F(Win32Backend, ReadingsAndLabelsHaveTheirFontsAndTheReadingsTheAirFiguresAsTip) {
    auto& w = main_window();
    const struct {
        HWND control;
        const wchar_t* face;
        LONG height;
        LONG weight;
        BYTE charset;
    } cases[] = {
        {backend.window_of(w.txtPressure), L"Microsoft Sans Serif", -18, 700, ANSI_CHARSET},
        {backend.window_of(w.label[1]), L"MS Shell Dlg 2", -11, 400, DEFAULT_CHARSET}};
    for (const auto& c : cases) {
        LOGFONTW font{};
        ASSERT_NE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(c.control, WM_GETFONT, 0, 0)),
                             sizeof font, &font),
                  0);
        EXPECT_STREQ(font.lfFaceName, c.face);
        EXPECT_EQ(font.lfHeight, c.height);
        EXPECT_EQ(font.lfWeight, c.weight);
        EXPECT_EQ(font.lfCharSet, c.charset);
    }
    // One line of the dialog font is 195 twips high.
    EXPECT_EQ(size_of(backend.window_of(w.label[1]), false).cy, 13);

    const HWND hwnd = backend.window_of(w);
    HWND tips = nullptr;
    while ((tips = FindWindowExW(nullptr, tips, TOOLTIPS_CLASSW, nullptr)) &&
           GetWindow(tips, GW_OWNER) != hwnd) {
    }
    ASSERT_TRUE(tips);
    wchar_t text[512] = {};
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = hwnd;
    tool.uId = reinterpret_cast<UINT_PTR>(backend.window_of(w.txtPressure));
    tool.lpszText = text;
    SendMessageW(tips, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
    EXPECT_FALSE(w.txtPressure.tooltip().empty());
    EXPECT_EQ(win32::narrow(text), w.txtPressure.tooltip());
}

// The digits a box shows, read back from the window: the height of their ink and the width of
// the first stem half-way up (for "10", the 1's), in pixels. Ink is what is more green than red
// or blue.
std::pair<int, int> digits_in(HWND edit) {
    RedrawWindow(edit, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT client{};
    GetClientRect(edit, &client);
    const HDC dc = GetDC(edit);
    std::vector<std::vector<bool>> ink;
    for (int y = 0; y < client.bottom; ++y) {
        std::vector<bool> row;
        for (int x = 0; x < client.right; ++x) {
            const COLORREF c = GetPixel(dc, x, y);
            row.push_back(GetGValue(c) >= 128 && GetRValue(c) < 128 && GetBValue(c) < 128);
        }
        if (std::count(row.begin(), row.end(), true) || !ink.empty())
            ink.push_back(row);
    }
    ReleaseDC(edit, dc);
    while (!ink.empty() && std::count(ink.back().begin(), ink.back().end(), true) == 0)
        ink.pop_back();
    if (ink.empty())
        return {0, 0};
    const auto& middle = ink[ink.size() / 2];
    const auto stem = std::find(middle.begin(), middle.end(), true);
    return {int(ink.size()), int(std::find(stem, middle.end(), false) - stem)};
}

TEST_F(Win32Backend, ReadingDigitsGrowWithTheDpiAndAreBoldAtEveryDpi) {
    main_window::frmNimbrel w(desktop, link, store); // no port: the text stays as set
    w.show();
    w.txtPressure.set_back_colour(colours::black); // live: green on black
    w.txtPressure.set_fore_colour(colours::green);
    w.txtPressure.set_text("10");
    RECT start{};
    GetWindowRect(backend.window_of(w), &start);
    const HWND edit = backend.window_of(w.txtPressure);
    std::map<int, std::pair<int, int>> seen; // height and stem by dpi
    for (const int dpi : {96, 144, 192}) {
        move_to_dpi(backend.window_of(w), start, dpi);
        backend.pump(true);
        seen[dpi] = digits_in(edit);
        // The same face at the regular weight, to see what bold adds.
        const auto font = reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0));
        LOGFONTW regular{};
        GetObjectW(font, sizeof regular, &regular);
        regular.lfWeight = FW_NORMAL;
        const HFONT regular_font = CreateFontIndirectW(&regular);
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(regular_font), FALSE);
        const int regular_stem = digits_in(edit).second;
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        DeleteObject(regular_font);
        std::printf("digits at %d dpi: %d px high, stem %d px, %d px regular\n", dpi,
                    seen[dpi].first, seen[dpi].second, regular_stem);
        EXPECT_GT(seen[dpi].second, regular_stem) << dpi << " dpi: not bold";
    }
    // 13.5 points: 18, 27 and 36 pixels; a digit is about three quarters of that.
    EXPECT_GE(seen[96].first, 12);
    for (const int dpi : {144, 192}) {
        const double scale = dpi / 96.0;
        EXPECT_NEAR(seen[dpi].first, seen[96].first * scale, 1 + 0.05 * seen[96].first * scale)
            << dpi << " dpi";
        EXPECT_GE(seen[dpi].second, int(seen[96].second * scale * 0.75)) << dpi << " dpi";
    }
}

TEST_F(Win32Backend, AWindowIsLaidOutAgainAtTheDpiWindowsReports) {
    auto& w = main_window();
    const HWND hwnd = backend.window_of(w);
    RECT start{};
    GetWindowRect(hwnd, &start);
    const struct {
        int dpi;
        std::vector<LONG> layout;
    } cases[] = {
        // Client width and height, the pressure box's left, top and right edge (4245, 1410,
        // 450, 525 and 1605 twips), its font (13.5 points), the labels' font (8 points), the
        // small icon. At 120 dpi each is rounded to the nearest pixel: 353.75, 117.5, 37.5,
        // 43.75, 133.75, 22.5 and 13.33.
        {120, {354, 118, 38, 44, 134, -23, -13, 20}},
        {144, {425, 141, 45, 53, 161, -27, -16, 24}},
        {192, {566, 188, 60, 70, 214, -36, -21, 32}},
        {96, {283, 94, 30, 35, 107, -18, -11, 16}},
    };
    for (const auto& c : cases) {
        const RECT to = move_to_dpi(hwnd, start, c.dpi);
        RECT outer{};
        GetWindowRect(hwnd, &outer);
        RECT box{};
        GetWindowRect(backend.window_of(w.txtPressure), &box);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&box), 2);
        LOGFONTW fonts[2] = {};
        for (int i = 0; i < 2; ++i)
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(
                           backend.window_of(i ? static_cast<Control&>(w.label[1]) : w.txtPressure),
                           WM_GETFONT, 0, 0)),
                       sizeof fonts[i], &fonts[i]);
        ICONINFO icon{};
        BITMAP bitmap{};
        GetIconInfo(reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0)), &icon);
        GetObjectW(icon.hbmColor, sizeof bitmap, &bitmap);
        DeleteObject(icon.hbmMask);
        DeleteObject(icon.hbmColor);
        EXPECT_EQ(outer.left, to.left);
        EXPECT_EQ(outer.top, to.top);
        EXPECT_EQ(
            (std::vector<LONG>{size_of(hwnd, true).cx, size_of(hwnd, true).cy, box.left, box.top,
                               box.right, fonts[0].lfHeight, fonts[1].lfHeight, bitmap.bmWidth}),
            c.layout)
            << c.dpi << " dpi";
    }
}

TEST_F(Win32Backend, EachBoxFollowsItsCaptionInTheWindowOrderAndTabWalksTheBoxesInOrder) {
    auto& w = main_window();
    TextBox* boxes[] = {&w.txtHumidity, &w.txtPressure, &w.txtTemperature, &w.txtJetSize,
                        &w.txtCorr};
    for (std::int16_t i = 0; i < 5; ++i) {
        // A screen reader names an edit box by the label just before it.
        const HWND before = GetWindow(backend.window_of(*boxes[i]), GW_HWNDPREV);
        EXPECT_EQ(before, backend.window_of(w.label[i])) << w.label[i].caption();
        wchar_t caption[64] = {};
        GetWindowTextW(before, caption, 64);
        EXPECT_EQ(win32::narrow(caption), boxes[i]->accessible_name);
    }
    for (int i = 1; i <= 5; ++i) {
        press(GetFocus(), VK_TAB);
        backend.pump(true);
        EXPECT_EQ(GetFocus(), backend.window_of(*boxes[i % 5])) << "after tab " << i;
    }
}

TEST_F(Win32Backend, PortMenuTicksAndPutsHiddenItemsBackInPlace) {
    auto& w = main_window();
    const HMENU options = GetSubMenu(GetMenu(backend.window_of(w)), 0);
    using Items = std::vector<std::wstring>;
    const auto with_log = [](Items items) {
        items.insert(items.end(),
                     {L"-", L"History", L"Mark Run", L"[x]Log Readings", L"Open Log Folder", L"-",
                      L"Engines", L"Set Baseline", L"Correction Standard"});
        return items;
    };
    EXPECT_EQ(menu_items(options),
              with_log({L"none", L"COM3", L"[x]COM1", L"-", L"Auto", L"-", L"Show Jet Fields"}));
    ports.names = {"COM1"};
    w.carga_coms();
    w.Abrir_puerto(0);
    EXPECT_EQ(menu_items(options),
              with_log({L"[x]none", L"COM1", L"-", L"Auto", L"-", L"Show Jet Fields"}));
    ports.names = {"COM4", "COM1", "COM5 & more"};
    w.carga_coms();
    w.Abrir_puerto(1);
    EXPECT_EQ(menu_items(options), with_log({L"none", L"COM4", L"[x]COM1", L"COM5 && more", L"-",
                                             L"Auto", L"-", L"Show Jet Fields"}));
}

TEST_F(Win32Backend, BoxTextsFollowTheModelAndTypingIsAnEdit) {
    Form form(desktop, "frmTest");
    form.set_client_size(3000, 2000);
    auto& box = form.add<TextBox>("txtTest");
    box.place({150, 150, 1500, 400});
    int changes = 0;
    box.on_change = [&] { ++changes; };
    form.show();
    const HWND edit = backend.window_of(box);
    EXPECT_EQ(GetFocus(), edit);

    box.set_text("Temperature (\u00BAC)");
    wchar_t text[64] = {};
    GetWindowTextW(edit, text, 64);
    EXPECT_STREQ(text, L"Temperature (\u00BAC)");
    EXPECT_EQ(changes, 1);
    // A text that Windows shows otherwise (up to its NUL) is still the model's text.
    const std::string with_nul("COM3\0", 5);
    box.set_text(with_nul);
    EXPECT_EQ(box.text(), with_nul) << "the model's own text came back as an edit";
    EXPECT_EQ(changes, 2);

    SendMessageW(edit, EM_SETSEL, 0, -1);
    for (const wchar_t c : std::wstring(L"4\u00B0")) // typed: the selection is replaced
        PostMessageW(edit, WM_CHAR, c, 1);
    backend.pump(true);
    EXPECT_EQ(box.text(), "4\u00B0");
    EXPECT_EQ(changes, 4);
}

TEST_F(Win32Backend, BoxColoursArePaintedWithOneBrushPerColour) {
    Form form(desktop, "frmTest");
    form.set_client_size(3000, 2000);
    auto& box = form.add<TextBox>("txtTest");
    box.place({150, 150, 1500, 400});
    form.show();
    const HWND edit = backend.window_of(box);
    const HDC dc = GetDC(edit);
    // The brush the form hands out for the box, as Windows asks for it when it paints.
    const auto brush_of_box = [&] {
        return reinterpret_cast<HBRUSH>(
            SendMessageW(backend.window_of(form), WM_CTLCOLOREDIT, WPARAM(dc), LPARAM(edit)));
    };
    // Wine does not count a process's GDI objects (GetGuiResources): the brushes are told apart
    // by their handles, which GDI does not soon give again to a brush made after one is deleted.
    std::set<HBRUSH> brushes;
    for (int i = 0; i < 50; ++i) {
        box.set_back_colour(i % 2 ? colours::black : colours::grey);
        box.set_fore_colour(i % 2 ? colours::green : colours::black);
        backend.pump(true);
        brushes.insert(brush_of_box());
    }
    EXPECT_EQ(brushes.size(), 2u);

    RECT client{};
    GetClientRect(edit, &client);
    const HBRUSH brush = brush_of_box();
    LOGBRUSH info{};
    GetObjectW(brush, sizeof info, &info);
    EXPECT_EQ(info.lbColor, RGB(0, 0, 0));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 255, 0));
    UpdateWindow(edit);
    EXPECT_EQ(GetPixel(dc, client.right - 2, client.bottom - 2), RGB(0, 0, 0));
    ReleaseDC(edit, dc);
}

TEST_F(Win32Backend, TabWalksTheBoxesAndEscapeInABoxClosesTheMainWindow) {
    auto& w = main_window();
    const HWND hwnd = backend.window_of(w);
    ASSERT_EQ(GetFocus(), backend.window_of(w.txtHumidity));
    press(GetFocus(), VK_TAB);
    backend.pump(true);
    ASSERT_EQ(GetFocus(), backend.window_of(w.txtPressure)); // the label between is passed over
    press(GetFocus(), VK_ESCAPE);
    backend.pump(true);
    EXPECT_FALSE(w.loaded());
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(store.values["weather_com"], "1");
}

TEST_F(Win32Backend, SessionEndClosesTheMainWindowAndStoresThePort) {
    auto& w = main_window();
    const HWND hwnd = backend.window_of(w);
    EXPECT_EQ(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageW(hwnd, WM_ENDSESSION, TRUE, 0);
    backend.pump(true);
    EXPECT_FALSE(w.loaded());
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(store.values["weather_com"], "1");
}

TEST_F(Win32Backend, ModalDialogDisablesItsOwnerAndEnterPressesNoButton) {
    Form owner(desktop, "frmOwner");
    owner.set_client_size(3000, 2000);
    owner.add<TextBox>("txtOwner").place({150, 150, 1500, 400});
    owner.show();
    const HWND owner_hwnd = backend.window_of(owner);

    Form dialog(desktop, "frmDialog");
    dialog.set_client_size(3000, 2000);
    dialog.centred = true;
    auto& button = dialog.add<Button>("cmdTest");
    button.place({150, 150, 1200, 500});
    int clicks = 0;
    button.on_click = [&] { ++clicks; };
    auto& timer = dialog.add_timer("Timer1");
    int ticks = 0;
    bool owner_enabled = true;
    HWND dialog_owner = nullptr;
    timer.on_timer = [&] {
        const HWND hwnd = backend.window_of(dialog);
        if (++ticks == 1) {
            owner_enabled = IsWindowEnabled(owner_hwnd);
            dialog_owner = GetWindow(hwnd, GW_OWNER);
            press(GetFocus(), VK_RETURN);
        } else {
            dialog.unload();
        }
    };
    timer.set_interval(100);
    timer.set_enabled(true);
    dialog.show_modal();

    EXPECT_FALSE(owner_enabled);
    EXPECT_EQ(dialog_owner, owner_hwnd);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(IsWindowEnabled(owner_hwnd));
    EXPECT_EQ(GetActiveWindow(), owner_hwnd);
}

TEST_F(Win32Backend, PumpWithoutInputLeavesKeysQueued) {
    Form form(desktop, "frmTest");
    form.set_client_size(3000, 2000);
    auto& box = form.add<TextBox>("txtTest");
    box.place({150, 150, 1500, 400});
    auto& menu = form.add<MenuItem>("mnMenu", "Menu", nullptr);
    int clicks = 0;
    form.add<MenuItem>("mnItem", "Item", &menu).on_click = [&] { ++clicks; };
    form.show();
    backend.pump(true);
    const HWND hwnd = backend.window_of(form);
    choose(hwnd, GetSubMenu(GetMenu(hwnd), 0), L"Item");
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = 'A';
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ASSERT_EQ(SendInput(2, keys, sizeof(INPUT)), 2u);
    PostMessageW(backend.window_of(box), WM_CHAR, 'a', 1);
    Sleep(100);

    backend.pump(false);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(box.text(), "");
    backend.pump(true);
    EXPECT_EQ(box.text(), "aa");
}

TEST_F(Win32Backend, LabelsSizeThemselvesToTheirCaption) {
    Form form(desktop, "frmTest");
    form.set_client_size(4950, 5190);
    auto& label = form.add<Label>("lblTest");
    label.move(300, 240);
    label.set_caption("...");
    form.show();
    const HWND hwnd = backend.window_of(label);
    const SIZE dots = size_of(hwnd, false);
    label.set_caption("Checking COM ports, please wait...");
    const SIZE longer = size_of(hwnd, false);
    label.set_bold(true);
    const SIZE bold = size_of(hwnd, false);
    EXPECT_GT(longer.cx, 3 * dots.cx);
    EXPECT_GT(bold.cx, longer.cx);
    EXPECT_EQ(dots.cy, 13);
    EXPECT_EQ(longer.cy, 13);
}

TEST_F(Win32Backend, IconsKeepTheirTransparencyAndPicturesTakeClicks) {
    Form form(desktop, "frmTest");
    form.set_client_size(3000, 2000);
    form.set_icon(&main_window::disconnected_picture());
    auto& image = form.add<Image>("imgTest");
    image.place({150, 150, 240, 240});
    image.set_picture(&main_window::connected_picture());
    int clicks = 0;
    image.on_click = [&] { ++clicks; };
    form.show();
    const HWND hwnd = backend.window_of(form);

    const auto small_icon = reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0));
    ICONINFO parts{};
    ASSERT_TRUE(GetIconInfo(small_icon, &parts));
    const HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, parts.hbmMask);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0));        // red: opaque
    EXPECT_EQ(GetPixel(dc, 8, 15), RGB(255, 255, 255)); // the bottom row is transparent
    DeleteDC(dc);
    DeleteObject(parts.hbmMask);
    DeleteObject(parts.hbmColor);
    EXPECT_TRUE(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0));
    form.set_icon(&main_window::connected_picture());
    EXPECT_NE(reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0)), small_icon);

    PostMessageW(backend.window_of(image), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageW(backend.window_of(image), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    backend.pump(true);
    EXPECT_EQ(clicks, 1);
}

TEST_F(Win32Backend, NumbersTakeTheDecimalSeparatorOfTheUsersLocale) {
    wchar_t before[8] = {};
    ASSERT_GT(GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, before, 8), 0);
    ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, L","));
    EXPECT_EQ(desktop.format(985.27f, "0.0"), "985,3");
    SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, before);
    EXPECT_EQ(desktop.format(985.27f, "0.0"), "985" + win32::narrow(before) + "3");
}

TEST_F(Win32Backend, WakeUpTimerRunsTheSchedulerOnTime) {
    Form form(desktop, "frmTest");
    form.set_client_size(3000, 2000);
    auto& timer = form.add_timer("Timer1");
    std::vector<std::int64_t> ticks;
    timer.on_timer = [&] {
        ticks.push_back(backend.now_ms());
        if (ticks.size() == 5)
            form.unload();
    };
    form.show();
    const std::int64_t start = backend.now_ms();
    timer.set_interval(40);
    timer.set_enabled(true);
    // Should the wake-up never come, a plain Win32 timer ends the loop after 5 s.
    static Form* stuck = nullptr;
    stuck = &form;
    const UINT_PTR guard =
        SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) { stuck->unload(); });
    backend.run_until_unloaded(form);
    KillTimer(nullptr, guard);
    ASSERT_EQ(ticks.size(), 5u);
    for (std::size_t i = 0; i < ticks.size(); ++i)
        EXPECT_GE(ticks[i] - start, std::int64_t(40 * (i + 1))) << "tick " << i;
    EXPECT_LT(ticks.back() - start, 1000);
}

TEST_F(Win32Backend, DeviceNoticesReachTheRemovalHookAndTheFormsWithTheArrivedPorts) {
    Form form(desktop, "frmTest");
    form.set_client_size(3000, 2000);
    std::vector<std::vector<std::string>> heard;
    form.on_devices_changed = [&] { heard.push_back(desktop.arrived_ports()); };
    form.show();
    std::vector<void*> removed;
    backend.on_handle_removal = [&](void* handle) { removed.push_back(handle); };
    const HWND hwnd = backend.window_of(form);

    DEV_BROADCAST_HANDLE handle{};
    handle.dbch_size = sizeof handle;
    handle.dbch_devicetype = DBT_DEVTYP_HANDLE;
    handle.dbch_handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, LPARAM(&handle)), TRUE);
    EXPECT_EQ(removed, std::vector<void*>{handle.dbch_handle});
    desktop.run_due_ticks();
    auto com5 = port_notice(L"COM5", 5);
    auto cnca0 = port_notice(L"CNCA01", 5); // no NUL within the notice
    SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, LPARAM(com5.data()));
    SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, LPARAM(cnca0.data()));
    desktop.run_due_ticks();
    EXPECT_EQ(heard, (std::vector<std::vector<std::string>>{{}, {"COM5", "CNCA0"}}));
    EXPECT_EQ(removed.size(), 1u);
}

} // namespace
