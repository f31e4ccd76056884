#include "adapter_identity.h"

namespace platform {

bool same_adapter(const AdapterIdentity& a, const AdapterIdentity& b) {
    if (!a.usb() || !b.usb() || a.vendor != b.vendor || a.product != b.product ||
        a.interface != b.interface)
        return false;
    if (!a.serial.empty() || !b.serial.empty())
        return a.serial == b.serial;
    return !a.socket.empty() && a.socket == b.socket;
}

AdapterIdentity instance_id_identity(std::string_view, std::string_view, std::string_view) {
    return {}; // TODO
}

} // namespace platform
