// A main window on the headless backend with a manual clock, scripted serial ports and
// settings of its own: a file of its own, or on Windows the registry of the test's private
// Wine prefix, emptied for every test.
#pragma once

#include "frmNimbrel.h"
#include "headless.h"
#include "pictures.h"
#include "scripted_stations.h"
#include "settings_store.h"
#include "temp_dir.h"
#include "weather.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <filesystem>
#endif

class WindowTest : public ::testing::Test {
protected:
#ifdef _WIN32
    static constexpr const wchar_t* settings_key =
        L"Software\\VB and VBA Program Settings\\KORVANE_1";
    WindowTest() {
        RegDeleteTreeW(HKEY_CURRENT_USER, settings_key);
    }
#endif
    void TearDown() override {
        EXPECT_EQ(backend.left_open, 0) << "a dialog was left open";
    }

    // The window, created on first use.
    main_window::frmNimbrel& window() {
        if (!w) {
            w = std::make_unique<main_window::frmNimbrel>(desktop, *window_link, *store);
            w->log_folder = log_dir;
        }
        return *w;
    }
    // A new window, loaded: the start-up runs.
    main_window::frmNimbrel& start() {
        w.reset();
        window().show();
        return *w;
    }

    std::string stored(const std::string& key) {
        return store->get("KORVANE_1", "main", key, "<missing>");
    }
    void put(const std::string& key, const std::string& value) {
        store->save("KORVANE_1", "main", key, value);
    }
    // Whether anything at all has been written to the settings.
    bool anything_stored() const {
#ifdef _WIN32
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, settings_key, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
#else
        return std::filesystem::exists(settings_file);
#endif
    }

    // Captions of the port items that show, in menu order.
    std::vector<std::string> shown_ports() {
        std::vector<std::string> captions;
        for (const window_system::MenuItem* item : window().mnoptions.items()) {
            if (item == &window().mn1)
                break;
            if (item->visible())
                captions.push_back(item->caption());
        }
        return captions;
    }
    // Indexes of the ticked port items, hidden ones included.
    std::vector<int> ticked() {
        std::vector<int> ticks;
        for (const auto& [index, item] : window().mncom)
            if (item->checked())
                ticks.push_back(index);
        return ticks;
    }
    bool connected_shown() {
        const bool connected = window().icon() == &main_window::connected_picture();
        EXPECT_TRUE(connected || window().icon() == &main_window::disconnected_picture());
        EXPECT_EQ(window().imgConectado.visible(), connected);
        EXPECT_EQ(window().imgDesconectado.visible(), !connected);
        return connected;
    }

    window_system::headless::Backend backend;
    window_system::Desktop desktop{backend};
    test_support::ScriptedStations ports;
    weather::Link link{ports, ports};
    weather::Link* window_link = &link; // the link the window works on
    test_support::TempDir dir;
    std::string log_dir = dir.path() + "/logs";
#ifdef _WIN32
    std::unique_ptr<platform::SettingsStore> store = platform::make_settings_store();
#else
    std::string settings_file = dir.path() + "/settings.conf";
    std::unique_ptr<platform::SettingsStore> store =
        platform::make_file_settings_store(settings_file);
#endif
    std::unique_ptr<main_window::frmNimbrel> w;
};
