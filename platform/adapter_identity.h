// Who is behind a serial port: the USB adapter's vendor, product and serial number and the USB
// socket it is plugged into, as the system tells without opening the port. The program takes
// back, or follows to another port, only the station's own adapter.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A port with no USB adapter behind it (a built-in UART, Bluetooth, a virtual pair, a
// pseudo-terminal, a link of the user's port map) has an empty identity and is known by its
// name alone.
struct AdapterIdentity {
    std::string vendor;        // USB vendor id, four lower-case hex digits; empty: not USB
    std::string product;       // USB product id, four lower-case hex digits
    std::string serial;        // the adapter's serial number; empty when it has none
    std::string usb_interface; // which port of a multi-port adapter ("00", "01", ...); may be empty
    std::string socket; // the USB port path it is plugged into ("1-2.4" on Linux, the location
                        // path on Windows); may be empty

    bool usb() const { return !vendor.empty(); }
    bool operator==(const AdapterIdentity&) const = default;
};

// True when `a` and `b` are one and the same adapter's port: both USB, the same vendor, product
// and interface, and the same serial number, or, for an adapter without one, the same socket.
// Vendor and product alone never make two adapters the same: a clone board in another socket
// is someone else's.
bool same_adapter(const AdapterIdentity& a, const AdapterIdentity& b);

// Linux: the identity of tty `name` ("ttyUSB0") in the sysfs tree `sys_class_tty`
// (/sys/class/tty): the USB interface above its device link (bInterfaceNumber) and the USB
// device above that (idVendor, idProduct, serial, busnum and devpath). Empty when no USB device
// is above it or the tree cannot be read.
AdapterIdentity sysfs_identity(const std::string& sys_class_tty, const std::string& name);

// Windows: the identity in a device instance ID ("USB\VID_0403&PID_6001\A50285BI",
// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000", "USB\VID_1A86&PID_7523\5&2A3B4C&0&2"), the
// instance ID of its parent (for an interface of a composite device, "...&MI_00\...", whose
// serial number is the parent's) and its location path. Empty when it is no USB device.
AdapterIdentity instance_id_identity(std::string_view instance_id, std::string_view parent_id,
                                     std::string_view location);

} // namespace platform
