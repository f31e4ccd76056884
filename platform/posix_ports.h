// Where the POSIX implementation finds devices, the user's port map and the lock files. The
// defaults are the system's; tests point them at temporary folders.
#pragma once

#include "port_life.h"
#include "serial_port.h"

#include <string>

namespace platform {

struct PosixPaths {
    std::string port_map;      // the user's COM<n> links
    std::string lock_dir;      // UUCP lock files; empty: no lock files
    std::string sys_class_tty; // the kernel's list of tty devices
    std::string dev = "/dev";  // where the fixed-rule devices live

    static PosixPaths system();
};

// The base folder the environment `variable` names ("XDG_CONFIG_HOME"), or `below_home` in the
// home folder (".config") when it is unset, empty or not an absolute path.
std::string xdg_home(const char* variable, const char* below_home);
// $XDG_CONFIG_HOME/KORVANE_1 (by default ~/.config/KORVANE_1): settings and the port map.
std::string config_dir();
// config_dir()/ports, the folder of COM<n> links.
std::string port_map_dir();

// The device that port number `port` stands for, or empty when it has none: the port map's
// COM<n> link if there is one, else ttyS0-31, ttyUSB0-31, ttyACM0-31 for COM1-96 (unless that
// device is the kernel's console).
std::string device_for_port(const PosixPaths& paths, int port);

// The device name that port number `port` has by the fixed rule ("ttyS0" for COM1, "ttyUSB0"
// for COM33, "ttyACM0" for COM65), or empty for a number that the rule does not cover.
std::string fixed_rule_name(int port);

// Device name as shown in the port list and used for lock files: the real path without its
// "/dev/" ("ttyUSB0", "pts/3").
std::string device_name(const std::string& path);

// The USB adapter behind port number `port`: that of its fixed-rule device in
// paths.sys_class_tty; empty for a link of the port map (known by its name alone) and for a
// device with no USB adapter behind it.
AdapterIdentity port_identity(const PosixPaths& paths, int port);

std::unique_ptr<SerialPort> make_posix_serial_port(PosixPaths paths, LivePort::Timing timing = {});
std::unique_ptr<PortLister> make_posix_port_lister(PosixPaths paths);

} // namespace platform
