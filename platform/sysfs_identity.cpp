// The USB adapter behind a tty on Linux, read from the kernel's sysfs tree without opening the
// port: the same attributes from which udev makes /dev/serial/by-id and by-path.
#include "adapter_identity.h"
#include "posix_ports.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

// A tty's device sits two levels at most below its USB device (the usb-serial port, then the
// interface); the bound only keeps an odd tree from being walked up far.
constexpr int walk_limit = 16;
// The kernel serves an attribute in one page at most; anything longer is no attribute of its.
constexpr std::size_t attribute_limit = 4096;

enum class Read { text, absent, unreadable };

// The text of `file` without its trailing white space. Only a regular file is read, opened
// without waiting, so that a FIFO in a tree that is not the kernel's cannot block.
Read read_attribute(const fs::path& file, std::string& text) {
    text.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Read::absent : Read::unreadable;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buffer[512];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0 && text.size() + static_cast<std::size_t>(n) <= attribute_limit;
        if (ok)
            text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return ok ? Read::text : Read::unreadable;
}

bool present(const fs::path& file) {
    std::error_code ec;
    return fs::symlink_status(file, ec).type() != fs::file_type::not_found && !ec;
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

bool hex_digit(char c) {
    return digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_hex4(const std::string& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), hex_digit);
}

bool is_hex2(const std::string& text) {
    return text.size() == 2 && std::all_of(text.begin(), text.end(), hex_digit);
}

bool is_number(const std::string& text) {
    return !text.empty() && text.size() <= 3 && std::all_of(text.begin(), text.end(), digit);
}

// "2", "1.4": the port numbers from the root hub down, joined by dots.
bool is_devpath(const std::string& text) {
    return !text.empty() && text.front() != '.' && text.back() != '.' &&
           text.find("..") == std::string::npos &&
           std::all_of(text.begin(), text.end(), [](char c) { return c == '.' || digit(c); });
}

// The serial number as the kernel has it from the adapter, in UTF-8; control characters
// would be no number but garbage, and are not carried on into settings or messages.
bool is_serial(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

bool read_valid(const fs::path& file, std::string& text, bool (*valid)(const std::string&)) {
    return read_attribute(file, text) == Read::text && valid(text);
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The identity of USB device `device`, for the port of its interface `interface_dir` (empty
// when the tty hangs from the device itself). A tree that does not read as the kernel writes it
// gives no identity rather than a wrong one.
AdapterIdentity usb_identity(const fs::path& device, const fs::path& interface_dir) {
    AdapterIdentity id;
    std::string busnum, devpath;
    if (!read_valid(device / "idVendor", id.vendor, is_hex4) ||
        !read_valid(device / "idProduct", id.product, is_hex4) ||
        !read_valid(device / "busnum", busnum, is_number) ||
        !read_valid(device / "devpath", devpath, is_devpath))
        return {};
    if (!interface_dir.empty() &&
        !read_valid(interface_dir / "bInterfaceNumber", id.usb_interface, is_hex2))
        return {};
    // The kernel shows no serial file for an adapter without a serial number.
    const Read serial = read_attribute(device / "serial", id.serial);
    if (serial == Read::unreadable || !is_serial(id.serial))
        return {};
    id.vendor = lower(id.vendor);
    id.product = lower(id.product);
    id.usb_interface = lower(id.usb_interface);
    id.socket = busnum + "-" + devpath;
    return id;
}

} // namespace

AdapterIdentity sysfs_identity(const std::string& sys_class_tty, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return {};
    // Resolving every link at once ends a loop of links with an error instead of following it.
    std::error_code ec;
    fs::path dir = fs::canonical(fs::path(sys_class_tty) / name / "device", ec);
    if (ec)
        return {};
    fs::path interface_dir;
    for (int level = 0; level < walk_limit; ++level) {
        // The first device above with either id is the adapter: a broken one must not let the
        // walk go on to the hub above it.
        if (present(dir / "idVendor") || present(dir / "idProduct"))
            return usb_identity(dir, interface_dir);
        if (interface_dir.empty() && present(dir / "bInterfaceNumber"))
            interface_dir = dir;
        if (dir.parent_path() == dir)
            break;
        dir = dir.parent_path();
    }
    return {};
}

AdapterIdentity port_identity(const PosixPaths& paths, int port) {
    // A link of the port map leads wherever the user chose and is known by its name alone; only
    // a port that stands for its fixed-rule device has that device's adapter.
    const std::string name = fixed_rule_name(port);
    if (name.empty() || device_for_port(paths, port) != (fs::path(paths.dev) / name).string())
        return {};
    return sysfs_identity(paths.sys_class_tty, name);
}

} // namespace platform
