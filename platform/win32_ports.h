// The Windows side of the serial layer: what its tests reach below the SerialPort and
// PortLister interfaces.
#pragma once

#include "port_life.h"
#include "serial_port.h"
#include "win32_device_notice.h"

#include <string>
#include <vector>
#include <windows.h>

namespace platform {

// "\\.\COM<port>", or empty for a number outside 0 to 999: longer numbers would not fit the
// ten-character device name and must not be cut to another port's number.
std::string com_device_path(int port);

// "\\.\<name>" for a port that the system lists under a name of its own ("CNCA0"), or empty
// for a name that is no device name (a path, a drive, control characters).
std::string named_device_path(const std::string& name);

// The line as the station needs it, whatever `dcb` held before: 9600 baud, 8 data bits, no
// parity, 1 stop bit, DTR and RTS on, no flow control of any kind, DSR sensitivity and
// abort-on-error off.
void set_line(DCB& dcb);

// A port name without its NULs, in capitals: Windows device names do not tell case apart, so
// two names stand for one port when their keys are equal.
std::string name_key(const std::string& name);

// The USB adapter behind the port of that name ("COM5", "CNCA0"), from the device manager's
// Ports class; empty when it lists no USB device under that name.
AdapterIdentity port_identity(const std::string& name);

// The serial port of make_serial_port(), with other timing (tests).
std::unique_ptr<SerialPort> make_serial_port(LivePort::Timing timing);

// The system's handle behind handle `h` of `port` (made by make_serial_port()), or
// INVALID_HANDLE_VALUE when there is none: `h` is not open, or its device is away.
HANDLE system_handle(const SerialPort& port, Handle h);

// The data of every value under `subkey` of `root`, in the registry's order, each cut to the
// length the registry reports (so a text value keeps its terminating NUL). Values that cannot
// be read are left out; a key that cannot be opened gives an empty list.
std::vector<std::string> list_registry_ports(HKEY root, const char* subkey);

// The port list: `registry` as it is, followed by each port of `device_manager` that it does
// not hold yet (names compared without their NULs and regardless of case), once, as its name
// and one NUL; printer ports (LPT...) are left out.
std::vector<std::string> merge_port_lists(std::vector<std::string> registry,
                                          const std::vector<std::string>& device_manager);

} // namespace platform
