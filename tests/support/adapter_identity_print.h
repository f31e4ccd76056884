// An adapter identity as test failures show it: vendor:product serial/interface@socket.
#pragma once

#include "adapter_identity.h"

#include <ostream>

namespace platform {

inline void PrintTo(const AdapterIdentity& id, std::ostream* out) {
    *out << "{" << id.vendor << ":" << id.product << " '" << id.serial << "' if '"
         << id.usb_interface << "' at '" << id.socket << "'}";
}

} // namespace platform
