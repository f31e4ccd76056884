// The adapter behind a tty, read from a sysfs tree laid out as the kernel's, and the port
// numbers that have one.
#include "adapter_identity_print.h"
#include "fake_sysfs.h"
#include "file_access.h"
#include "pty_pair.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

using platform::AdapterIdentity;
using test_support::UsbDriver;

TEST(SysfsIdentity, IsReadAboveEachKindOfTty) {
    test_support::TempDir dir;
    test_support::FakeSysfs sysfs(dir.path());
    sysfs.plug("ttyUSB0", {UsbDriver::ftdi_sio, "0403", "6001", "A50285BI", "2"});
    sysfs.plug("ttyUSB1", {UsbDriver::ch341, "1a86", "7523", "", "1.4"});
    sysfs.plug("ttyUSB2", {UsbDriver::cp210x, "10c4", "ea70", "00A1B2C3  ", "3", "00"});
    sysfs.plug("ttyUSB3", {UsbDriver::cp210x, "10c4", "ea70", "00A1B2C3  ", "3", "01"});
    sysfs.plug("ttyACM0", {UsbDriver::cdc_acm, "2341", "0043", "8573632393035", "1.2"});
    sysfs.plug("ttyACM1", {UsbDriver::cdc_acm, "1209", "0001", "", "5", "02"});
    sysfs.plug_uart("ttyS0");
    // A tty with no device behind it, as the kernel lists its virtual ones.
    fs::create_directories(dir.path() + "/devices/virtual/tty/ttyUSB7");
    fs::create_symlink("../../devices/virtual/tty/ttyUSB7", sysfs.class_tty() + "/ttyUSB7");
    // Broken trees: walking on from any of them would reach the root hub's ids (1d6b:0002).
    sysfs.plug("ttyUSB4", {UsbDriver::ftdi_sio, "0403", "6001", "A1", "6"});
    fs::remove(sysfs.usb_device_dir("ttyUSB4") + "/idProduct");
    sysfs.plug("ttyUSB5", {UsbDriver::ftdi_sio, "0403", "6001", "A2", "7"});
    std::ofstream(sysfs.usb_device_dir("ttyUSB5") + "/idVendor") << "04x3\n";
    sysfs.plug("ttyUSB6", {UsbDriver::ftdi_sio, "0403", "6001", "A3", "8"});
    const std::string fifo = sysfs.usb_device_dir("ttyUSB6") + "/serial";
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    sysfs.plug("ttyUSB8", {UsbDriver::ch341, "1a86", "7523", "", "9"});
    fs::remove(sysfs.class_tty() + "/ttyUSB8/device");
    fs::create_symlink("device", sysfs.class_tty() + "/ttyUSB8/device");

    const struct {
        std::string tty;
        AdapterIdentity expected;
    } cases[] = {
        {"ttyUSB0", {"0403", "6001", "A50285BI", "00", "1-2"}},
        {"ttyUSB1", {"1a86", "7523", "", "00", "1-1.4"}},
        {"ttyUSB2", {"10c4", "ea70", "00A1B2C3", "00", "1-3"}},
        {"ttyUSB3", {"10c4", "ea70", "00A1B2C3", "01", "1-3"}},
        {"ttyACM0", {"2341", "0043", "8573632393035", "00", "1-1.2"}},
        {"ttyACM1", {"1209", "0001", "", "02", "1-5"}},
        {"ttyS0", {}},
        {"ttyUSB7", {}},
        {"ttyUSB9", {}},
        {"ttyUSB4", {}},
        {"ttyUSB5", {}},
        {"ttyUSB6", {}},
        {"ttyUSB8", {}},
        {"..", {}},
    };
    for (const auto& c : cases) {
        const auto got = test_support::unless_stuck_on_fifo(
            fifo, [&] { return platform::sysfs_identity(sysfs.class_tty(), c.tty); });
        ASSERT_TRUE(got) << c.tty << " waits on a FIFO";
        EXPECT_EQ(*got, c.expected) << c.tty;
    }

    // A pulled port leaves no identity; the adapter's other port keeps its own.
    sysfs.pull("ttyUSB2");
    EXPECT_EQ(platform::sysfs_identity(sysfs.class_tty(), "ttyUSB2"), AdapterIdentity{});
    EXPECT_EQ(platform::sysfs_identity(sysfs.class_tty(), "ttyUSB3").usb_interface, "01");
}

TEST(SysfsIdentity, BelongsToFixedRulePortsOnly) {
    test_support::TempDir dir;
    const auto paths = test_support::isolated_paths(dir);
    test_support::FakeSysfs sysfs(dir.path() + "/sys");
    ASSERT_EQ(sysfs.class_tty(), paths.sys_class_tty);
    sysfs.plug("ttyUSB0", {UsbDriver::ftdi_sio, "0403", "6001", "A50285BI", "2"});
    sysfs.plug("ttyUSB1", {UsbDriver::ch341, "1a86", "7523", "", "3"});
    sysfs.plug("ttyACM0", {UsbDriver::cdc_acm, "2341", "0043", "", "4"});
    // COM34 is the user's link, even to a device that has an adapter.
    test_support::link_port(paths.port_map, 34, paths.dev + "/ttyUSB1");
    test_support::link_port(paths.port_map, 200, paths.dev + "/ttyUSB0");

    const struct {
        int port;
        AdapterIdentity expected;
    } cases[] = {
        {33, {"0403", "6001", "A50285BI", "00", "1-2"}},
        {65, {"2341", "0043", "", "00", "1-4"}},
        {34, {}},
        {200, {}},
        {1, {}},
        {97, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::port_identity(paths, c.port), c.expected) << "COM" << c.port;
}

} // namespace
