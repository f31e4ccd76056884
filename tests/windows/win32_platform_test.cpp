// The registry listing on a scratch key of the current user, text from the ANSI code page,
// device names, opens that must fail without a device, and the pause.
#include "pause.h"
#include "system_text.h"
#include "weather.h"
#include "win32_ports.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

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

} // namespace
