// A damaged settings file: the window starts with the default or the fallback of each value it
// cannot use, never writes at start-up, and when it stores its own two values every other byte
// of the file stays as it was.
#include "file_access.h"
#include "window_fixture.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

// Bytes that make no sense as settings: control characters, NULs, bytes above 127, lone
// carriage returns, an unclosed section and a stray "=".
const std::string junk = "\x7f"
                         "ELF\x02\x01\x01\0\0\0\xff\xfe\r\r=\x01\x02\x03[main\n\x80\x81\x00"
                         "\xc3\x28 weather_com\tshow_jet\n\n"s;

} // namespace

TEST_F(WindowTest, ADamagedSettingsFileStartsWithDefaultsAndFallbacksAndLosesNothing) {
    struct Case {
        const char* what;
        std::string file;
        int port;              // the port it starts on
        bool jet;              // whether "Show Jet Fields" starts ticked
        std::string afterward; // the file once Show Jet Fields was clicked and the window closed
    };
    const Case cases[] = {
        {"nothing but junk", junk, 1, false, junk + "\n[main]\nshow_jet=1\nweather_com=1\n"},
        {"junk around good values",
         "\xff\xfe\0junk\r\n[main]\r\n; the bench laptop\r\nshow_jet=1\r\n\x01\x02\r\n"
         "weather_com = 3\r\n[other]\r\nweather_com=9\r\n"s,
         3, true,
         "\xff\xfe\0junk\r\n[main]\r\n; the bench laptop\r\nshow_jet=0\r\n\x01\x02\r\n"
         "weather_com = 3\r\n[other]\r\nweather_com=9\r\n"s},
        {"binary junk as the values", "[main]\nweather_com=\x01\xff\0x\nshow_jet=\0\x02\n"s, 0,
         false, "[main]\nweather_com=0\nshow_jet=1\n"},
        {"numbers no port can have", "[main]\nweather_com=1e999\nshow_jet=1e999\n", 0, false,
         "[main]\nweather_com=0\nshow_jet=1\n"},
        {"numbers beyond 16 bits", "[main]\nweather_com=-40000\nshow_jet=65537\nkept=1\n", 0, false,
         "[main]\nweather_com=0\nshow_jet=1\nkept=1\n"},
        {"a very long number",
         "[main]\nweather_com=" + std::string(5000, '9') + "\nshow_jet=1." +
             std::string(5000, '0') + "\n",
         0, true, "[main]\nweather_com=0\nshow_jet=0\n"},
        {"empty values", "[main]\nweather_com=\nshow_jet=\n", 0, false,
         "[main]\nweather_com=0\nshow_jet=1\n"},
        {"no line end at the end", "# mine\n[main]\nweather_com=2", 2, false,
         "# mine\n[main]\nshow_jet=1\nweather_com=2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w.reset();
        {
            std::ofstream out(settings_file, std::ios::binary | std::ios::trunc);
            out << c.file;
        }
        store = platform::make_file_settings_store(settings_file);
        window().show();
        EXPECT_EQ(link.state.com_port, c.port);
        EXPECT_EQ(window().mncom[0].checked(), c.port == 0) << "\"none\" ticked";
        EXPECT_EQ(window().mnShowJet.checked(), c.jet);
        EXPECT_EQ(test_support::file_bytes(settings_file), c.file) << "written at start-up";

        window().mnShowJet.click();
        window().unload();
        EXPECT_EQ(test_support::file_bytes(settings_file), c.afterward);
    }
}

TEST_F(WindowTest, ASettingsFileThatCannotBeWrittenIsReadAndLeftAsItWas) {
    const std::string folder = dir.path() + "/locked";
    fs::create_directories(folder);
    settings_file = folder + "/settings.conf";
    const std::string text = "\x01junk\n[main]\nweather_com=4\nshow_jet=1\n; mine\n";
    std::ofstream(settings_file, std::ios::binary) << text;
    store = platform::make_file_settings_store(settings_file);
    fs::permissions(settings_file, fs::perms::owner_read);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    {
        test_support::WithoutFileOverride user;
        window().show();
        EXPECT_EQ(link.state.com_port, 4);
        EXPECT_TRUE(window().mnShowJet.checked());
        testing::internal::CaptureStderr();
        window().mnShowJet.click();
        window().unload();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_FALSE(window().mnShowJet.checked()); // the window went on regardless
    }
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(test_support::file_bytes(settings_file), text);
}

TEST_F(WindowTest, ASettingsFileThatCannotBeReadGivesDefaultsAndIsNotReplaced) {
    const std::string text = "[main]\nweather_com=4\nshow_jet=1\n";
    std::ofstream(settings_file, std::ios::binary) << text;
    store = platform::make_file_settings_store(settings_file);
    fs::permissions(settings_file, fs::perms::none);
    {
        test_support::WithoutFileOverride user;
        window().show();
        EXPECT_EQ(link.state.com_port, 1);
        EXPECT_FALSE(window().mnShowJet.checked());
        testing::internal::CaptureStderr();
        window().mnShowJet.click();
        window().unload();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    fs::permissions(settings_file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(test_support::file_bytes(settings_file), text);
}
