// Which adapter a Windows device instance ID names, and when two identities are one adapter.
#include "adapter_identity_print.h"

#include <gtest/gtest.h>

namespace {

using platform::AdapterIdentity;

TEST(AdapterIdentity, IsReadFromRecordedInstanceIds) {
    const std::string hub = "USB\\ROOT_HUB30\\4&2F2A3C1&0&0";
    const std::string socket2 = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";
    const std::string interface0 = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USBMI(0)";
    const struct {
        std::string instance, parent, location;
        AdapterIdentity expected;
    } cases[] = {
        {"USB\\VID_0403&PID_6001\\A50285BI",
         hub,
         socket2,
         {"0403", "6001", "A50285BI", "", socket2}},
        {"usb\\vid_0403&pid_6001\\a50285bi", hub, "", {"0403", "6001", "a50285bi", "", ""}},
        // No serial number: the made-up instance names the hub's port, the location path better.
        {"USB\\VID_1A86&PID_7523\\5&2A3B4C&0&2", hub, socket2, {"1a86", "7523", "", "", socket2}},
        {"USB\\VID_1A86&PID_7523\\5&2A3B4C&0&2", hub, "", {"1a86", "7523", "", "", "5&2A3B4C&0&2"}},
        {"FTDIBUS\\VID_0403+PID_6010+FT4XYZ1B\\0000",
         "USB\\VID_0403&PID_6010\\FT4XYZ1",
         "",
         {"0403", "6010", "FT4XYZ1B", "", ""}},
        // An interface of a composite device has its parent's serial number or made-up instance.
        {"USB\\VID_2341&PID_8036&MI_00\\6&1234ABCD&0&0000",
         "USB\\VID_2341&PID_8036\\SN7",
         interface0,
         {"2341", "8036", "SN7", "00", interface0}},
        {"USB\\VID_2341&PID_8036&MI_0A\\6&1234ABCD&0&0000",
         "USB\\VID_2341&PID_8036\\5&AB&0&3",
         "",
         {"2341", "8036", "", "0a", "5&AB&0&3"}},
        {"USB\\VID_2341&PID_8036&MI_00\\6&1234ABCD&0&0000", "USB\\VID_2341&PID_8037\\SN7", "", {}},
        {"USB\\VID_2341&PID_8036&MI_00\\6&1234ABCD&0&0000", "", "", {}},
        // Ports with no USB adapter, and what is no instance ID of one.
        {"ACPI\\PNP0501\\1", "ACPI\\PNP0A08\\0", "ACPI(_SB_)#ACPI(PCI0)#ACPI(UAR1)", {}},
        {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1B2C&0&000000000000_0",
         "",
         "",
         {}},
        {"COM0COM\\PORT\\CNCA0", "ROOT\\COM0COM\\0000", "", {}},
        {"USB\\VID_04G3&PID_6001\\A50285BI", hub, "", {}},
        {"USB\\VID_0403&PID_60011\\A50285BI", hub, "", {}},
        {"USB\\VID_0403&PID_6001&REV_0600\\A50285BI", hub, "", {}},
        {"USB\\VID_0403&PID_6001\\", hub, "", {}},
        {"USB\\VID_0403&PID_6001\\A5\\0", hub, "", {}},
        {"USB\\VID_0403&PID_6001\\A5\n", hub, "", {}},
        {"", "", "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::instance_id_identity(c.instance, c.parent, c.location), c.expected)
            << c.instance;
}

TEST(AdapterIdentity, IsTheSameAdapterByItsSerialNumberElseByItsSocket) {
    const AdapterIdentity station{"0403", "6001", "A50285BI", "00", "1-2"};
    const AdapterIdentity clone{"1a86", "7523", "", "00", "1-2"};
    auto with = [](AdapterIdentity id, auto field, const char* value) {
        id.*field = value;
        return id;
    };
    using I = AdapterIdentity;
    const struct {
        AdapterIdentity a, b;
        bool same;
    } cases[] = {
        {station, station, true},
        {station, with(station, &I::socket, "1-1.4"), true},
        {station, with(station, &I::serial, "A50285BJ"), false},
        {station, with(station, &I::serial, ""), false},
        {station, with(station, &I::usb_interface, "01"), false},
        {station, with(station, &I::product, "6015"), false},
        {clone, clone, true},
        {clone, with(clone, &I::socket, "1-3"), false},
        {with(clone, &I::socket, ""), with(clone, &I::socket, ""), false},
        {AdapterIdentity{}, AdapterIdentity{}, false},
        {with(station, &I::vendor, ""), with(station, &I::vendor, ""), false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(platform::same_adapter(cases[i].a, cases[i].b), cases[i].same) << "case " << i;
        EXPECT_EQ(platform::same_adapter(cases[i].b, cases[i].a), cases[i].same) << "case " << i;
    }
}

} // namespace
