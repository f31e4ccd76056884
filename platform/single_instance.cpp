// One copy per login session on Linux: an flock'ed lock file and a Unix-domain socket next to it.
#include "single_instance.h"

#include "posix_ports.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

// $XDG_RUNTIME_DIR is the user's own and emptied at log-out; without it, the config folder.
fs::path claim_dir() {
    std::error_code ec;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/' && fs::is_directory(runtime, ec))
        return runtime;
    fs::path dir = config_dir();
    fs::create_directories(dir, ec);
    return dir;
}

// The login session as a part of a file name, or empty when nothing tells it apart. All the
// sessions of a user (another seat, a remote desktop) share $XDG_RUNTIME_DIR, and a start in one
// of them must not hand over to a window shown on another display.
std::string session_key() {
    for (const char* name : {"XDG_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (!value || !*value)
            continue;
        std::string key = value;
        for (char& c : key)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
                c = '_'; // no slash, no dots: the name stays a single file in the folder
        return key;
    }
    return {};
}

// A long key would leave the socket's path too long for an address: it becomes its hash
// (FNV-1a), the same in every copy.
std::string shortened(const std::string& key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : key)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// False when the path is too long for a socket address.
bool socket_address(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int stream_socket() {
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

} // namespace

SingleInstance::SingleInstance(const std::string& name) {
    const fs::path dir = claim_dir();
    std::string base = name;
    if (const std::string key = session_key(); !key.empty()) {
        base += "." + key;
        sockaddr_un address;
        if (key.size() > 32 || !socket_address((dir / (base + ".socket")).string(), address))
            base = name + "." + shortened(key);
    }
    socket_path_ = (dir / (base + ".socket")).string();
    lock_ = ::open((dir / (base + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    claim();
}

SingleInstance::~SingleInstance() {
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(socket_path_.c_str()); // still under the lock, so it is this copy's socket
    }
    if (lock_ >= 0)
        ::close(lock_);
}

bool SingleInstance::claim() {
    if (first_)
        return true;
    if (lock_ < 0) {
        first_ = true; // no lock file: a copy of its own
    } else if (::flock(lock_, LOCK_EX | LOCK_NB) == 0) {
        first_ = true;
        listen();
    } else if (errno != EWOULDBLOCK) {
        first_ = true; // a folder without locks: a copy of its own
    }
    return first_;
}

void SingleInstance::listen() {
    sockaddr_un address;
    if (!socket_address(socket_path_, address))
        return;
    // Only the holder of the lock gets here, so a socket at this path is one that a killed
    // copy left behind.
    ::unlink(socket_path_.c_str());
    listener_ = stream_socket();
    if (listener_ < 0)
        return;
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0) {
        ::close(listener_);
        listener_ = -1;
    }
}

bool SingleInstance::call_first() {
    sockaddr_un address;
    if (first_ || !socket_address(socket_path_, address))
        return false;
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int fd = stream_socket();
        if (fd < 0)
            return false;
        // A connection is the whole call; it waits in the backlog until the one copy takes it.
        const bool called =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (called)
            return true;
        if (claim())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool SingleInstance::take_calls() {
    bool called = false;
    while (listener_ >= 0) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            break;
        ::close(fd);
        called = true;
    }
    return called;
}

} // namespace platform
