#include "fake_sysfs.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace test_support {

namespace {

void write_attribute(const fs::path& dir, const std::string& name, const std::string& value) {
    fs::create_directories(dir);
    std::ofstream(dir / name) << value << '\n';
}

// A device of bus 1 as the kernel shows it.
void write_usb_device(const fs::path& dir, const std::string& vendor, const std::string& product,
                      const std::string& devpath) {
    write_attribute(dir, "idVendor", vendor);
    write_attribute(dir, "idProduct", product);
    write_attribute(dir, "busnum", "1");
    write_attribute(dir, "devpath", devpath);
}

void link(const fs::path& target, const fs::path& at) {
    fs::create_directories(at.parent_path());
    fs::create_symlink(fs::relative(target, at.parent_path()), at);
}

} // namespace

FakeSysfs::FakeSysfs(const std::string& root) : root_(root) {
    fs::create_directories(class_tty());
}

std::string FakeSysfs::class_tty() const {
    return (fs::path(root_) / "class" / "tty").string();
}

void FakeSysfs::plug(const std::string& tty, const UsbAdapter& adapter) {
    pull(tty);
    // The root hub, then a hub for each step of the port path before the last.
    fs::path device = fs::path(root_) / "devices/pci0000:00/0000:00:14.0/usb1";
    write_usb_device(device, "1d6b", "0002", "0");
    std::string devpath;
    for (std::size_t start = 0;;) {
        const std::size_t dot = adapter.socket.find('.', start);
        devpath = adapter.socket.substr(0, dot);
        device /= "1-" + devpath;
        if (dot == std::string::npos)
            break;
        write_usb_device(device, "05e3", "0608", devpath);
        start = dot + 1;
    }
    write_usb_device(device, adapter.vendor, adapter.product, devpath);
    if (!adapter.serial.empty())
        write_attribute(device, "serial", adapter.serial);
    const fs::path interface = device / ("1-" + devpath + ":1." +
                                         std::to_string(std::stoi(adapter.interface, nullptr, 16)));
    write_attribute(interface, "bInterfaceNumber", adapter.interface);
    fs::path tty_dir;
    if (adapter.driver == UsbDriver::cdc_acm) {
        tty_dir = interface / "tty" / tty;
        link(interface, tty_dir / "device");
    } else {
        tty_dir = interface / tty / "tty" / tty;
        link(interface / tty, tty_dir / "device");
    }
    link(tty_dir, fs::path(class_tty()) / tty);
    plugged_[tty] = {interface.string(), device.string()};
}

void FakeSysfs::plug_uart(const std::string& tty) {
    pull(tty);
    const fs::path uart = fs::path(root_) / "devices/platform/serial8250";
    const fs::path tty_dir = uart / "tty" / tty;
    write_attribute(tty_dir, "type", "4"); // a 16550A
    link(uart, tty_dir / "device");
    link(tty_dir, fs::path(class_tty()) / tty);
    plugged_[tty] = {tty_dir.string(), {}};
}

void FakeSysfs::pull(const std::string& tty) {
    const auto it = plugged_.find(tty);
    if (it == plugged_.end())
        return;
    const Plugged gone = it->second;
    plugged_.erase(it);
    fs::remove(fs::path(class_tty()) / tty);
    fs::remove_all(gone.folder);
    for (const auto& [other, plugged] : plugged_)
        if (plugged.usb_device == gone.usb_device)
            return;
    if (!gone.usb_device.empty())
        fs::remove_all(gone.usb_device);
}

std::string FakeSysfs::usb_device_dir(const std::string& tty) const {
    const auto it = plugged_.find(tty);
    return it == plugged_.end() ? std::string() : it->second.usb_device;
}

} // namespace test_support
