// The settings file on disk: where the user's file is, and how a write replaces it.
#include "env_var.h"
#include "file_access.h"
#include "pty_pair.h"
#include "settings_store.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;
using test_support::EnvVar;

namespace {

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(SettingsFile, AWriteThatFailsHalfwayLeavesTheOldFileAndNoTemporaryOne) {
    test_support::TempDir dir;
    const std::string file = dir.path() + "/s.conf";
    const std::string before = "; " + std::string(300, '-') + "\n[main]\nweather_com=5\n";
    std::ofstream(file) << before;
    auto store = platform::make_file_settings_store(file);
    // Files may not grow past 200 bytes: the new text is cut off while it is being written
    // (and the warning, shorter, still gets through).
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 200;
    setrlimit(RLIMIT_FSIZE, &small);
    testing::internal::CaptureStderr();
    store->save("KORVANE_1", "main", "weather_com", "7");
    store->save("KORVANE_1", "main", "show_jet", "1");
    const std::string said = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(test_support::file_bytes(file), before);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"s.conf"});
}

TEST(SettingsFile, KeepsTheFilesModeAndWritesThroughALinkToIt) {
    test_support::TempDir dir;
    const std::string file = dir.path() + "/real.conf";
    std::ofstream(file) << "; mine\n[main]\nweather_com=5\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.conf", dir.path() + "/link.conf");
    platform::make_file_settings_store(dir.path() + "/link.conf")
        ->save("KORVANE_1", "main", "weather_com", "6");
    EXPECT_EQ(test_support::file_bytes(file), "; mine\n[main]\nweather_com=6\n");
    EXPECT_TRUE(fs::is_symlink(dir.path() + "/link.conf"));
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"link.conf", "real.conf"}));
}

TEST(SettingsFile, ANewFileIsMadeInMissingFoldersWithTheUsersMask) {
    test_support::TempDir dir;
    const std::string file = dir.path() + "/a/b/s.conf";
    const mode_t old_mask = umask(027);
    platform::make_file_settings_store(file)->save("KORVANE_1", "main", "show_jet", "1");
    umask(old_mask);
    EXPECT_EQ(test_support::file_bytes(file), "[main]\nshow_jet=1\n");
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(SettingsFile, TheUsersFileIsUnderHomeWhenXdgConfigHomeIsNotAnAbsolutePath) {
    test_support::TempDir dir;
    const EnvVar home("HOME", dir.path());
    for (const char* xdg : {"", "relative/config"}) {
        const EnvVar config("XDG_CONFIG_HOME", xdg);
        const std::string file = dir.path() + "/.config/KORVANE_1/KORVANE_1.conf";
        fs::remove(file);
        platform::make_settings_store()->save("KORVANE_1", "main", "show_jet", "1");
        EXPECT_EQ(test_support::file_bytes(file), "[main]\nshow_jet=1\n") << '"' << xdg << '"';
    }
}

TEST(SettingsFile, AFifoInPlaceOfTheFileGivesTheDefaultsWithoutWaiting) {
    test_support::TempDir dir;
    const std::string file = dir.path() + "/s.conf";
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    auto store = platform::make_file_settings_store(file);
    EXPECT_EQ(store->get("KORVANE_1", "main", "weather_com", "1"), "1");
    testing::internal::CaptureStderr();
    store->save("KORVANE_1", "main", "weather_com", "3");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("warning"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(file));
}
