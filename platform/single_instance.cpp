// One copy per user on Linux: an flock'ed lock file and a Unix-domain socket next to it.
#include "single_instance.h"

#include "posix_ports.h"

#include <cerrno>
#include <chrono>
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
    socket_path_ = (dir / (name + ".socket")).string();
    lock_ = ::open((dir / (name + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
