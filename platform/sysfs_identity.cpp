#include "adapter_identity.h"
#include "posix_ports.h"

namespace platform {

AdapterIdentity sysfs_identity(const std::string&, const std::string&) {
    return {}; // TODO
}

AdapterIdentity port_identity(const PosixPaths&, int) {
    return {}; // TODO
}

} // namespace platform
