// The present devices of the device manager's class "Ports (COM & LPT)", which both the port
// list and the lookup of a port's adapter go through.
#pragma once

#include <functional>
#include <string>
#include <windows.h>

#include <setupapi.h>

namespace platform {

// Calls `visit` with each present device of the Ports class that has a "PortName", in the
// device manager's order, until it returns false.
void for_each_ports_class_device(
    const std::function<bool(HDEVINFO, SP_DEVINFO_DATA&, const std::string& port_name)>& visit);

} // namespace platform
