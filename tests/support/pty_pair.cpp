#include "pty_pair.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace test_support {

platform::PosixPaths isolated_paths(const TempDir& dir) {
    platform::PosixPaths p;
    p.port_map = dir.path() + "/ports";
    p.lock_dir = dir.path() + "/lock";
    p.sys_class_tty = dir.path() + "/sys/class/tty";
    p.dev = dir.path() + "/dev";
    for (const auto& d : {p.port_map, p.lock_dir, p.sys_class_tty, p.dev})
        fs::create_directories(d);
    return p;
}

void link_port(const std::string& port_map, int n, const std::string& target) {
    fs::create_directories(port_map);
    const fs::path link = fs::path(port_map) / ("COM" + std::to_string(n));
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(target, link);
}

std::string lock_file(const platform::PosixPaths& paths, const std::string& device_path) {
    std::string name = platform::device_name(device_path);
    std::replace(name.begin(), name.end(), '/', '_');
    return paths.lock_dir + "/LCK.." + name;
}

std::string line_settings(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return "no terminal";
    std::ostringstream text;
    text << std::hex << "iflag " << t.c_iflag << " oflag " << t.c_oflag << " cflag " << t.c_cflag
         << " lflag " << t.c_lflag << std::dec << " speeds " << cfgetispeed(&t) << "/"
         << cfgetospeed(&t) << " cc";
    for (const cc_t c : t.c_cc)
        text << " " << static_cast<int>(c);
    return text.str();
}

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave_path_ = ptsname(master_);
    slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        throw std::runtime_error("cannot open " + slave_path_);
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
}

PtyPair::~PtyPair() {
    hang_up();
}

void PtyPair::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n <= 0)
            throw std::runtime_error("pty write failed");
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

std::string PtyPair::read_available(int wait_ms) {
    std::string got;
    pollfd p{master_, POLLIN, 0};
    int timeout = wait_ms;
    while (::poll(&p, 1, timeout) > 0 && (p.revents & POLLIN)) {
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
        timeout = 0;
    }
    return got;
}

void PtyPair::hang_up() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

} // namespace test_support
