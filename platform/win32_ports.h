// The Windows side of the serial layer: what its tests reach below the SerialPort and
// PortLister interfaces.
#pragma once

#include "serial_port.h"

#include <string>
#include <vector>
#include <windows.h>

namespace platform {

// "\\.\COM<port>", or empty for a number outside 0 to 999: longer numbers would not fit the
// ten-character device name and must not be cut to another port's number.
std::string com_device_path(int port);

// The data of every value under `subkey` of `root`, in the registry's order, each cut to the
// length the registry reports (so a text value keeps its terminating NUL). Values that cannot
// be read are left out; a key that cannot be opened gives an empty list.
std::vector<std::string> list_registry_ports(HKEY root, const char* subkey);

} // namespace platform
