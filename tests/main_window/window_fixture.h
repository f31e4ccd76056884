// A main window on an isolated serial layer, a scripted port list and a settings file of its
// own; a pseudo-terminal plays the station where a test needs one.
#pragma once

#include "frmNimbrel.h"
#include "listed_ports.h"
#include "posix_ports.h"
#include "pty_pair.h"
#include "settings_store.h"
#include "weather.h"

#include <QAction>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <gtest/gtest.h>
#include <memory>

// True when `icon` is the 16 x 16 picture `xpm`.
inline bool shows_picture(const QIcon& icon, const char* const* xpm) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32) ==
           QPixmap(xpm).toImage().convertToFormat(QImage::Format_ARGB32);
}

class WindowTest : public ::testing::Test {
protected:
    // The window, created on first use with its timer stopped: the tests tick it by hand.
    main_window::frmNimbrel& window() {
        if (!w) {
            w = std::make_unique<main_window::frmNimbrel>(link, *store);
            w->Timer1.stop();
        }
        return *w;
    }

    // A station on a pseudo-terminal, listed and linked as COM<n>.
    test_support::PtyPair& station(int n) {
        stations.push_back(std::make_unique<test_support::PtyPair>());
        test_support::link_port(paths.port_map, n, stations.back()->slave_path());
        lister.names.push_back("COM" + std::to_string(n) + " (pts)");
        return *stations.back();
    }

    std::string stored(const std::string& key) {
        return store->get("KORVANE_1", "main", key, "<missing>");
    }
    void put(const std::string& key, const std::string& value) {
        store->save("KORVANE_1", "main", key, value);
    }

    // Captions of the port items that show, in menu order.
    std::vector<std::string> shown_ports() {
        std::vector<std::string> captions;
        for (QAction* a : window().mnoptions->actions()) {
            if (a == window().mn1)
                break;
            if (a->isVisible())
                captions.push_back(a->text().toStdString());
        }
        return captions;
    }
    // Indexes of the ticked port items, hidden ones included.
    std::vector<int> ticked() {
        std::vector<int> ticks;
        for (std::size_t i = 0; i < window().mncom.size(); ++i)
            if (window().mncom[i]->isChecked())
                ticks.push_back(int(i));
        return ticks;
    }

    test_support::TempDir dir;
    platform::PosixPaths paths = test_support::isolated_paths(dir);
    std::vector<std::unique_ptr<test_support::PtyPair>> stations;
    std::unique_ptr<platform::SerialPort> port = platform::make_posix_serial_port(paths);
    test_support::ListedPorts lister;
    weather::Link link{*port, lister};
    std::string settings_file = dir.path() + "/settings.conf";
    std::unique_ptr<platform::SettingsStore> store =
        platform::make_file_settings_store(settings_file);
    std::unique_ptr<main_window::frmNimbrel> w;
};
