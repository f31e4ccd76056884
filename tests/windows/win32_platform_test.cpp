// The registry listing and its merge with the device manager's ports, the settings store on
// scratch keys of the current user, text from the ANSI code page, device names, opens that must
// fail without a device, the pause, and a one-copy claim that another copy's security denies.
#include "dcb_check.h"
#include "pause.h"
#include "settings_store.h"
#include "single_instance.h"
#include "system_text.h"
#include "weather.h"
#include "win32_ports.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include <lmcons.h>
#include <sddl.h>

namespace {

using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A key of its own under HKEY_CURRENT_USER, removed with its values afterwards. Value names
// are chosen so that their alphabetical order is also the order they are written in, since
// registries differ in which of the two they enumerate by.
class RegistryListing : public ::testing::Test {
protected:
    void SetUp() override {
        subkey_ = "Software\\nimbrel-test-" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key_)
            RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, subkey_.c_str());
    }
    // A text value, stored with its NUL as text values are.
    void text(const std::string& name, const std::string& value) {
        raw(name, REG_SZ, value + '\0');
    }
    void raw(const std::string& name, DWORD type, const std::string& data) {
        ASSERT_EQ(RegSetValueExA(key_, name.c_str(), 0, type,
                                 reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    std::vector<std::string> list() {
        return platform::list_registry_ports(HKEY_CURRENT_USER, subkey_.c_str());
    }

    std::string subkey_;
    HKEY key_ = nullptr;
};

TEST_F(RegistryListing, AKeyThatIsMissingOrEmptyListsNothing) {
    EXPECT_TRUE(
        platform::list_registry_ports(HKEY_CURRENT_USER, "Software\\nimbrel-no-such-key").empty());
    EXPECT_TRUE(list().empty());
}

TEST_F(RegistryListing, EntriesKeepTheRegistryOrderAndTheirNul) {
    text("a", "COM3");
    text("b", "COM1");
    text("c", "COM12");
    const std::vector<std::string> expected{"COM3\0"s, "COM1\0"s, "COM12\0"s};
    EXPECT_EQ(list(), expected);
    std::vector<std::int16_t> numbers;
    for (const auto& name : list())
        numbers.push_back(weather::com_number(name));
    EXPECT_EQ(numbers, (std::vector<std::int16_t>{3, 1, 12}));
}

TEST_F(RegistryListing, EntriesAreCutToTheReportedLength) {
    text("a", "COM123 with a long description after it");
    text("b", "COM4");
    raw("c", REG_BINARY, "COM9"); // stored without a NUL
    const std::vector<std::string> expected{"COM123 with a long description after it\0"s, "COM4\0"s,
                                            "COM9"s};
    EXPECT_EQ(list(), expected);
    EXPECT_EQ(weather::com_number(expected[2]), 9);
}

TEST_F(RegistryListing, ValuesThatCannotBeReadAreLeftOut) {
    text("a", "COM3");
    text("b" + std::string(300, 'x'), "COM7");  // name beyond 255 characters
    text("c", "COM8" + std::string(2000, ' ')); // data beyond 1024 bytes
    text("d", "COM5");
    const std::vector<std::string> expected{"COM3\0"s, "COM5\0"s};
    EXPECT_EQ(list(), expected);
}

// The device manager's ports follow the registry's, each port once whatever its case or NUL;
// printer ports share its device class and are left out.
TEST(PortList, TheDeviceManagersPortsFollowTheRegistrysEachOnce) {
    const struct {
        std::vector<std::string> registry, device_manager, listed;
    } cases[] = {
        {{"COM3\0"s, "COM1\0"s},
         {"COM1", "com3", "CNCA0", "LPT1", "cnca0", "BthModem2"},
         {"COM3\0"s, "COM1\0"s, "CNCA0\0"s, "BthModem2\0"s}},
        {{}, {"COM5", "lpt2", ""}, {"COM5\0"s}},
        {{"COM9"s, "COM9\0"s}, {"COM9"}, {"COM9"s, "COM9\0"s}}, // the registry's part as it is
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::merge_port_lists(c.registry, c.device_manager), c.listed)
            << testing::PrintToString(c.device_manager);
}

// The settings of an application of its own, removed afterwards.
class RegistrySettings : public ::testing::Test {
protected:
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, app_key_.c_str()); }

    // Stores `data` as it is, of any type and length, under key "raw" of section "main".
    void raw(DWORD type, const std::wstring& data, DWORD bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, section_key_.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(
            RegSetValueExW(key, L"raw", 0, type, reinterpret_cast<const BYTE*>(data.data()), bytes),
            ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // What the registry holds under `name` of section "main": its type and its bytes.
    std::pair<DWORD, std::wstring> stored(const wchar_t* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, section_key_.c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return {REG_NONE, L"(no key)"};
        std::wstring data(64, L'?');
        DWORD type = REG_NONE;
        DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                             &bytes) != ERROR_SUCCESS)
            data = L"(no value)";
        else
            data.resize(bytes / sizeof(wchar_t));
        RegCloseKey(key);
        return {type, data};
    }

    const std::string app = "nimbrel-test-" + std::to_string(GetCurrentProcessId());
    const std::wstring app_key_ =
        L"Software\\VB and VBA Program Settings\\" + std::wstring(app.begin(), app.end());
    const std::wstring section_key_ = app_key_ + L"\\main";
    std::unique_ptr<platform::SettingsStore> store = platform::make_settings_store();
};

TEST_F(RegistrySettings, TextIsStoredAsUtf16UnderTheProgramSettingsKeyAndReadBack) {
    EXPECT_EQ(store->get(app, "main", "weather_com", "1"), "1"); // nothing stored yet
    store->save(app, "main", "weather_com", "3");
    store->save(app, "main", "place", "\xC3\x87\xC3\xA0 \xC3\xBC\xE2\x82\xAC");
    store->save(app, "main", "empty", "");
    EXPECT_EQ(stored(L"weather_com"), std::make_pair(DWORD{REG_SZ}, std::wstring(L"3\0", 2)));
    EXPECT_EQ(stored(L"place"),
              std::make_pair(DWORD{REG_SZ}, std::wstring(L"\u00C7\u00E0 \u00FC\u20AC\0", 6)));
    EXPECT_EQ(stored(L"empty"), std::make_pair(DWORD{REG_SZ}, std::wstring(L"\0", 1)));

    const auto fresh = platform::make_settings_store(); // nothing kept in the object
    EXPECT_EQ(fresh->get(app, "main", "weather_com", "1"), "3");
    EXPECT_EQ(fresh->get(app, "main", "place", ""), "\xC3\x87\xC3\xA0 \xC3\xBC\xE2\x82\xAC");
    EXPECT_EQ(fresh->get(app, "main", "empty", "x"), "");
    EXPECT_EQ(fresh->get(app, "main", "show_jet", "0"), "0");
    EXPECT_EQ(fresh->get(app, "other", "weather_com", "1"), "1");
    EXPECT_EQ(fresh->get(app + "x", "main", "weather_com", "1"), "1");
    store->save(app, "main", "weather_com", "12");
    EXPECT_EQ(fresh->get(app, "main", "weather_com", "1"), "12");
}

TEST_F(RegistrySettings, ValuesOfOtherTypesOrOddShapesReadSoundly) {
    const std::string bad = "\xEF\xBF\xBD";      // U+FFFD
    const std::wstring big((1 << 19) + 1, L'7'); // beyond the megabyte that the store reads
    const std::wstring long_text(70000, L'5');
    const struct {
        const char* what;
        DWORD type;
        std::wstring data;
        DWORD bytes;
        std::string expected;
    } cases[] = {
        {"dword", REG_DWORD, std::wstring(L"\x0003\0", 2), 4, "fallback"},
        {"binary", REG_BINARY, L"3", 2, "fallback"},
        {"multi", REG_MULTI_SZ, std::wstring(L"3\0\0", 3), 6, "fallback"},
        {"no NUL", REG_SZ, L"12", 4, "12"},
        {"odd length", REG_SZ, L"12x", 5, "12"},
        {"one byte", REG_SZ, L"1", 1, ""},
        {"no data", REG_SZ, L"", 0, ""},
        {"NUL inside", REG_SZ, std::wstring{L'1', L'\0', L'2', L'\0'}, 8, "1"},
        {"not expanded", REG_EXPAND_SZ, L"%TEMP%", 14, "%TEMP%"},
        {"lone surrogate", REG_SZ, std::wstring{wchar_t(0xD800), L'7'}, 4, bad + "7"},
        {"long", REG_SZ, long_text, static_cast<DWORD>(long_text.size() * 2),
         std::string(long_text.size(), '5')},
        {"beyond the limit", REG_SZ, big, static_cast<DWORD>(big.size() * 2), "fallback"},
    };
    for (const auto& c : cases) {
        raw(c.type, c.data, c.bytes);
        const std::string got = store->get(app, "main", "raw", "fallback");
        EXPECT_TRUE(got == c.expected) << c.what << ": " << got.size() << " bytes, "
                                       << testing::PrintToString(got.substr(0, 20));
    }
}

TEST_F(RegistrySettings, AStoreThatCannotBeWrittenSaysSoOnceAndGoesOn) {
    const std::string too_long(300, 's'); // the registry takes key names up to 255 characters
    testing::internal::CaptureStderr();
    store->save(app, too_long, "weather_com", "3");
    store->save(app, "main", "bad\0name"s, "3"); // a NUL would store under another name
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot write the settings"), std::string::npos) << said;
    EXPECT_EQ(said.find("cannot write the settings"), said.rfind("cannot write the settings"))
        << said;
    EXPECT_EQ(store->get(app, too_long, "weather_com", "1"), "1");
    EXPECT_EQ(stored(L"bad"), std::make_pair(DWORD{REG_NONE}, std::wstring(L"(no key)")));
    EXPECT_EQ(store->get(app, "main", "bad\0name"s, "1"), "1");
    store->save(app, "main", "weather_com", "4");
    EXPECT_EQ(store->get(app, "main", "weather_com", "1"), "4");
}

TEST(SystemText, TheAnsiCodePageBecomesUtf8) {
    ASSERT_EQ(GetACP(), 1252u) << "the cases below are for Western European text";
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"COM3\0"s, "COM3\0"s},
        {"COM\xBA", "COM\xC2\xBA"},
        {"\xC7\xE0 \xFC\x80", "\xC3\x87\xC3\xA0 \xC3\xBC\xE2\x82\xAC"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::utf8_from_system(c.in), c.out) << testing::PrintToString(c.in);
}

TEST(DevicePath, EveryPortUpTo999GetsItsOwnNameAndLongerNumbersNone) {
    EXPECT_EQ(platform::com_device_path(1), "\\\\.\\COM1");
    EXPECT_EQ(platform::com_device_path(0), "\\\\.\\COM0");
    EXPECT_EQ(platform::com_device_path(42).size(), 9u);
    EXPECT_EQ(platform::com_device_path(999), "\\\\.\\COM999");
    EXPECT_EQ(platform::com_device_path(999).size(), 10u);
    for (const int port : {1000, 1001, 1009, 9999, 32767, -1, -32768})
        EXPECT_EQ(platform::com_device_path(port), "") << port;
}

TEST(DevicePath, NamedPortsAreDevicesOfTheSystemAndNothingElse) {
    EXPECT_EQ(platform::named_device_path("CNCA0"), "\\\\.\\CNCA0");
    EXPECT_EQ(platform::named_device_path("BthModem2"), "\\\\.\\BthModem2");
    for (const char* name : {"", "C:", "..\\x", "a/b", "COM1\\..\\C:", "x\ty", "pipe?"})
        EXPECT_EQ(platform::named_device_path(name), "") << name;
}

// Whatever another program left in the port's settings, the line comes out the same: DTR and RTS
// raised, no handshake of any kind, and values that SetCommState takes.
TEST(SerialPort, TheLineIsSetWholeWhateverTheDriverHeldBefore) {
    for (const int fill : {0x00, 0xFF}) {
        DCB dcb;
        std::memset(&dcb, fill, sizeof dcb);
        platform::set_line(dcb);
        SCOPED_TRACE(fill);
        test_support::expect_station_line(dcb);
        EXPECT_EQ(dcb.DCBlength, sizeof dcb);
        EXPECT_TRUE(dcb.fBinary);
        EXPECT_FALSE(dcb.fParity);
        EXPECT_EQ(dcb.fDtrControl, DWORD(DTR_CONTROL_ENABLE));
        EXPECT_FALSE(dcb.fDsrSensitivity);
        EXPECT_FALSE(dcb.fErrorChar);
        EXPECT_FALSE(dcb.fNull);
        EXPECT_EQ(dcb.fRtsControl, DWORD(RTS_CONTROL_ENABLE));
        EXPECT_FALSE(dcb.fAbortOnError);
        EXPECT_EQ(dcb.wReserved, 0);
        EXPECT_NE(dcb.XonChar, dcb.XoffChar);
        EXPECT_LT(dcb.XonLim, 10000);
        EXPECT_LT(dcb.XoffLim, 10000);
    }
}

TEST(SerialPort, PortsWithoutADeviceFailToOpenAndCountMisses) {
    auto port = platform::make_serial_port();
    auto lister = platform::make_port_lister();
    weather::Link link(*port, *lister);
    link.close_port(); // before any open: nothing to close
    EXPECT_EQ(link.state.com_handle, platform::never_opened);
    for (const std::int16_t n : {0, 1000, -1}) {
        EXPECT_FALSE(link.open_port(n)) << n;
        EXPECT_EQ(link.state.com_handle, platform::no_handle) << n;
        EXPECT_EQ(link.state.com_port, n);
    }
    link.poll_station();
    EXPECT_EQ(link.state.miss_count, -5);
    EXPECT_EQ(link.state.link_kind, 0);
}

TEST(Pause, WaitsAboutAsLongAsAskedAndNotAtAllForNothing) {
    auto start = Clock::now();
    platform::pause_ms(50);
    const long long waited = ms_since(start);
    EXPECT_GE(waited, 40);
    EXPECT_LT(waited, 2000);

    start = Clock::now();
    platform::pause_ms(0);
    platform::pause_ms(-1); // must not turn into an almost endless wait
    EXPECT_LT(ms_since(start), 1000);
}

// A copy run as administrator leaves a mutex whose security lets a later copy do less than all
// with it, played by one made here, unowned, with another owner than this user (Wine lets the
// owner wait on a mutex whatever its DACL says). A later copy that may not even wait on it is not
// the one copy while it is there; one that may wait sees that nobody owns it and takes it.
TEST(SingleInstance, AMutexThatMayNotBeOpenedIsACopyThatRuns) {
    wchar_t user[UNLEN + 1] = {};
    DWORD size = UNLEN + 1;
    ASSERT_TRUE(GetUserNameW(user, &size));
    const std::pair<const wchar_t*, bool> cases[] = {{L"O:SYG:SYD:(D;;GA;;;WD)", false},
                                                     {L"O:SYG:SYD:(A;;0x100000;;;WD)", true}};
    for (const auto& [security, first] : cases) {
        const std::string name = "NimbrelTest" + std::to_string(GetCurrentProcessId() * 2 + first);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(security, SDDL_REVISION_1,
                                                                         &descriptor, nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        const std::wstring full = L"Local\\" + std::wstring(name.begin(), name.end()) + L"." + user;
        const HANDLE mutex = CreateMutexW(&attributes, FALSE, full.c_str());
        platform::SingleInstance later(name);
        EXPECT_EQ(later.first(), first) << "may wait: " << first;
        CloseHandle(mutex);
        EXPECT_TRUE(later.claim());
        EXPECT_TRUE(later.holds_claim());
        LocalFree(descriptor);
    }
}

} // namespace
