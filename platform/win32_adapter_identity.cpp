#include "adapter_identity.h"
#include "win32_ports.h"

namespace platform {

AdapterIdentity port_identity(const std::string&) {
    return {}; // TODO
}

} // namespace platform
