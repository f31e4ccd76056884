// A sysfs tree in a test's own folder, laid out as the kernel lays out tty devices: links
// class/tty/<tty> into devices/, each tty with its `device` link, and above a USB adapter's
// tty its interface and USB device with the attributes that the kernel shows there.
#pragma once

#include <map>
#include <string>

namespace test_support {

// ftdi_sio, ch341 and cp210x hang their ttys from a usb-serial port below the interface;
// cdc_acm hangs them from the interface itself.
enum class UsbDriver { ftdi_sio, ch341, cp210x, cdc_acm };

struct UsbAdapter {
    UsbDriver driver;
    std::string vendor, product; // hex, as the kernel shows them ("0403")
    std::string serial;          // empty: the adapter has none
    std::string socket;          // the port path below the root hub of bus 1: "2", "1.4"
    std::string interface = "00";
};

class FakeSysfs {
public:
    // The tree goes to root/class/tty and root/devices.
    explicit FakeSysfs(const std::string& root);

    // For PosixPaths::sys_class_tty.
    std::string class_tty() const;
    // `tty` ("ttyUSB0", "ttyACM0") on `adapter`, in place of whatever `tty` was before. Hubs
    // on the way to the socket are made as needed.
    void plug(const std::string& tty, const UsbAdapter& adapter);
    // `tty` ("ttyS0") as a built-in UART, with no USB device above it.
    void plug_uart(const std::string& tty);
    // `tty` goes, with its folders; an adapter's USB device goes with the last of its ttys.
    void pull(const std::string& tty);
    // The folder of the USB device that `tty` is plugged on, to break it.
    std::string usb_device_dir(const std::string& tty) const;

private:
    struct Plugged {
        std::string folder;     // removed with the tty: its interface, or the UART's tty
        std::string usb_device; // empty for a UART
    };
    std::string root_;
    std::map<std::string, Plugged> plugged_;
};

} // namespace test_support
