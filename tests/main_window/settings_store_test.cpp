// The settings store: where it keeps the values, and what happens when it cannot write.
#include "file_access.h"
#include "settings_store.h"
#include "window_fixture.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(SettingsStore, KeepsTheUsersSettingsInTheProgramsConfigFolder) {
    const std::string file = std::string(getenv("XDG_CONFIG_HOME")) + "/KORVANE_1/KORVANE_1.conf";
    fs::remove(file);
    auto store = platform::make_settings_store();
    EXPECT_EQ(store->get("KORVANE_1", "main", "weather_com", "1"), "1");
    store->save("KORVANE_1", "main", "weather_com", "3");
    store->save("KORVANE_1", "main", "show_jet", "1");
    EXPECT_EQ(test_support::file_bytes(file), "[main]\nshow_jet=1\nweather_com=3\n");
    EXPECT_EQ(platform::make_settings_store()->get("KORVANE_1", "main", "weather_com", "1"), "3");
    fs::remove(file);
}

TEST(SettingsStore, GivesBackHandEditedTextAsWritten) {
    test_support::TempDir dir;
    const std::string file = dir.path() + "/s.conf";
    std::ofstream(file) << "[main]\nweather_com=2.5, 3\nshow_jet=\" 1\"\n";
    auto store = platform::make_file_settings_store(file);
    EXPECT_EQ(store->get("KORVANE_1", "main", "weather_com", "1"), "2.5, 3");
    EXPECT_EQ(store->get("KORVANE_1", "main", "show_jet", "0"), " 1");
    EXPECT_EQ(store->get("KORVANE_1", "main", "missing", "dflt"), "dflt");
    store->save("KORVANE_1", "main", "weather_com", "4, 5");
    EXPECT_EQ(store->get("KORVANE_1", "main", "weather_com", "1"), "4, 5");
}

TEST_F(WindowTest, StoreThatCannotBeWrittenWarnsOnceAndKeepsWhatItHeld) {
    const std::string folder = dir.path() + "/locked";
    fs::create_directories(folder);
    settings_file = folder + "/settings.conf";
    std::ofstream(settings_file) << "[main]\nweather_com=5\n";
    store = platform::make_file_settings_store(settings_file);
    fs::permissions(settings_file, fs::perms::owner_read);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    {
        test_support::WithoutFileOverride as_a_plain_user;
        window().show();
        EXPECT_EQ(link.state.com_port, 5);
        testing::internal::CaptureStderr();
        window().mnShowJet.click();
        window().mnShowJet.click();
        window().unload();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find("warning"), std::string::npos) << said;
        EXPECT_FALSE(window().mnShowJet.checked()); // the window went on regardless
    }
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(test_support::file_bytes(settings_file), "[main]\nweather_com=5\n");
}
