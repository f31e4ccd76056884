// Port numbers, device names and the port list on Linux.
#include "posix_ports.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::string read_first_line(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The kernel's console must never be switched to 9600 baud and sent poll bytes.
bool is_console(const PosixPaths& paths, const std::string& name) {
    const fs::path tty = fs::path(paths.sys_class_tty);
    if (read_first_line(tty / name / "console") == "Y")
        return true;
    std::istringstream active(read_first_line(tty / "console" / "active"));
    std::string word;
    while (active >> word)
        if (word == name)
            return true;
    return false;
}

// A tty with a device behind it; a ttyS slot whose type reads 0 has no UART.
bool is_hardware(const PosixPaths& paths, const std::string& name) {
    const fs::path tty = fs::path(paths.sys_class_tty) / name;
    std::error_code ec;
    if (!fs::exists(tty / "device", ec))
        return false;
    if (fs::exists(tty / "type", ec) && read_first_line(tty / "type") == "0")
        return false;
    return true;
}

// "COM<n>" with n from 1 to 999 written without leading zeros, else 0.
int map_link_number(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0')
        return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

fs::path map_link(const PosixPaths& paths, int port) {
    return fs::path(paths.port_map) / ("COM" + std::to_string(port));
}

bool link_exists(const fs::path& link) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(link, ec)) || fs::exists(fs::symlink_status(link, ec));
}

class PosixPortLister : public PortLister {
public:
    explicit PosixPortLister(PosixPaths paths) : paths_(std::move(paths)) {}

    std::vector<std::string> list() override {
        std::map<int, std::string> by_number;
        std::error_code ec;
        for (fs::directory_iterator it(paths_.port_map, ec), end; !ec && it != end;
             it.increment(ec)) {
            const int n = map_link_number(it->path().filename().string());
            std::error_code target_ec;
            if (n > 0 && fs::is_character_file(it->path(), target_ec)) // a device, not a file
                by_number[n] = device_name(it->path().string());
        }
        for (int n = 1; n <= 96; ++n) {
            if (link_exists(map_link(paths_, n)))
                continue; // the user's map holds this number
            const std::string name = fixed_rule_name(n);
            std::error_code dev_ec;
            if (fs::exists(fs::path(paths_.dev) / name, dev_ec) && is_hardware(paths_, name) &&
                !is_console(paths_, name))
                by_number[n] = name;
        }
        std::vector<std::string> ports;
        for (const auto& [n, device] : by_number)
            ports.push_back("COM" + std::to_string(n) + " (" + device + ")");
        return ports;
    }

private:
    PosixPaths paths_;
};

} // namespace

PosixPaths PosixPaths::system() {
    PosixPaths p;
    p.port_map = port_map_dir();
    std::error_code ec;
    p.lock_dir = fs::is_directory("/run/lock", ec) ? "/run/lock" : "/var/lock";
    p.sys_class_tty = "/sys/class/tty";
    p.dev = "/dev";
    return p;
}

std::string xdg_home(const char* variable, const char* below_home) {
    const char* xdg = std::getenv(variable);
    if (xdg && *xdg == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return (fs::path(home && *home ? home : "/tmp") / below_home).string();
}

std::string config_dir() {
    return (fs::path(xdg_home("XDG_CONFIG_HOME", ".config")) / "KORVANE_1").string();
}

std::string port_map_dir() {
    return (fs::path(config_dir()) / "ports").string();
}

// COM1-32, COM33-64 and COM65-96 stand for the first 32 devices of the three common kinds.
std::string fixed_rule_name(int port) {
    if (port >= 1 && port <= 32)
        return "ttyS" + std::to_string(port - 1);
    if (port >= 33 && port <= 64)
        return "ttyUSB" + std::to_string(port - 33);
    if (port >= 65 && port <= 96)
        return "ttyACM" + std::to_string(port - 65);
    return {};
}

std::string device_for_port(const PosixPaths& paths, int port) {
    if (port < 1 || port > highest_port)
        return {};
    const fs::path link = map_link(paths, port);
    if (link_exists(link))
        return link.string();
    const std::string name = fixed_rule_name(port);
    if (name.empty() || is_console(paths, name))
        return {};
    return (fs::path(paths.dev) / name).string();
}

std::string device_name(const std::string& path) {
    std::error_code ec;
    std::string real = fs::canonical(path, ec).string();
    if (ec)
        return fs::path(path).filename().string();
    if (real.rfind("/dev/", 0) == 0)
        real.erase(0, 5);
    return real;
}

std::unique_ptr<PortLister> make_posix_port_lister(PosixPaths paths) {
    return std::make_unique<PosixPortLister>(std::move(paths));
}

std::unique_ptr<PortLister> make_port_lister() {
    return make_posix_port_lister(PosixPaths::system());
}

} // namespace platform
