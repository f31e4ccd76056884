// The serial port on Linux: termios, with every lock that other serial programs honour.
#include "posix_ports.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <linux/serial.h>
#include <map>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto read_timeout = std::chrono::milliseconds(10);
constexpr auto write_timeout = std::chrono::milliseconds(110);

// Waits for `events` on `fd` until `deadline`; returns the revents, 0 on time-out.
short wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return 0;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd p{fd, events, 0};
        const int r = ppoll(&p, 1, &ts, nullptr);
        if (r > 0)
            return p.revents;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return POLLERR;
    }
}

// A UUCP lock file holds the owner's process id as ten characters and a line feed.
bool lock_is_live(const std::string& file) {
    FILE* f = std::fopen(file.c_str(), "r");
    if (!f)
        return false;
    long pid = 0;
    const bool read = std::fscanf(f, "%ld", &pid) == 1;
    std::fclose(f);
    if (!read || pid <= 0 || pid > 0x7fffffffL)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Takes the UUCP lock for `device`. Returns false only when another live process holds it;
// a lock folder this user may not write to does not keep the port from being used.
bool take_uucp_lock(const std::string& lock_dir, const std::string& device, std::string& file) {
    file.clear();
    if (lock_dir.empty())
        return true;
    std::string name = device;
    std::replace(name.begin(), name.end(), '/', '_');
    const std::string path = lock_dir + "/LCK.." + name;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[16];
            const int n = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
            [[maybe_unused]] const auto written = ::write(fd, text, static_cast<size_t>(n));
            ::close(fd);
            file = path;
            return true;
        }
        if (errno != EEXIST)
            return true;
        if (lock_is_live(path))
            return false;
        ::unlink(path.c_str()); // stale: its process is gone
    }
    return false;
}

// 9600 8N1, raw, no flow control, reads that never block inside the driver. Failures are
// ignored: a device that rejects the settings still counts as open.
void configure(int fd) {
    ::tcflush(fd, TCIOFLUSH);
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &t);
    }
    // USB adapters otherwise hold received bytes for up to 16 ms, longer than one read.
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &ss);
    }
    ::tcflush(fd, TCIOFLUSH);
}

class PosixSerialPort : public SerialPort {
public:
    explicit PosixSerialPort(PosixPaths paths) : paths_(std::move(paths)) {}

    ~PosixSerialPort() override {
        while (!open_.empty())
            close(open_.begin()->first);
    }

    Handle open(int port) override {
        const std::string path = device_for_port(paths_, port);
        if (path.empty())
            return no_handle;
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return no_handle;
        if (fd == 0) { // 0 means "never opened" to the link
            const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
            ::close(fd);
            if (moved < 0)
                return no_handle;
            fd = moved;
        }
        OpenPort p;
        p.fd = fd;
        int exclusive = 0;
        const bool held = (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) ||
                          (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) ||
                          !take_uucp_lock(paths_.lock_dir, device_name(path), p.lock_file);
        if (held) {
            ::close(fd);
            return no_handle;
        }
        p.set_exclusive = ::ioctl(fd, TIOCEXCL) == 0;
        configure(fd);
        open_[fd] = p;
        return fd;
    }

    void close(Handle h) override {
        const auto it = open_.find(h);
        if (it == open_.end())
            return;
        const OpenPort p = it->second;
        open_.erase(it);
        if (p.set_exclusive)
            ::ioctl(p.fd, TIOCNXCL);
        if (!p.lock_file.empty())
            ::unlink(p.lock_file.c_str());
        ::close(p.fd);
    }

    void write_byte(Handle h, std::uint8_t value) override {
        const auto it = open_.find(h);
        if (it == open_.end())
            return;
        const int fd = it->second.fd;
        const auto deadline = Clock::now() + write_timeout;
        for (;;) {
            const ssize_t n = ::write(fd, &value, 1);
            if (n == 1)
                return;
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
            const short ev = wait_for(fd, POLLOUT, deadline);
            if (!(ev & POLLOUT))
                return;
        }
    }

    std::optional<std::uint8_t> read_byte(Handle h) override {
        const auto it = open_.find(h);
        if (it == open_.end())
            return std::nullopt;
        const int fd = it->second.fd;
        const auto deadline = Clock::now() + read_timeout;
        for (;;) {
            const short ev = wait_for(fd, POLLIN, deadline);
            if (ev == 0)
                return std::nullopt;
            if (ev & POLLIN) {
                std::uint8_t b = 0;
                const ssize_t n = ::read(fd, &b, 1);
                if (n == 1)
                    return b;
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
            }
            // Hung up, end of file or a read error: the device has gone. Still take the whole
            // read time-out, so that a caller polling a dead port never spins.
            std::this_thread::sleep_until(deadline);
            return std::nullopt;
        }
    }

private:
    struct OpenPort {
        int fd = -1;
        bool set_exclusive = false;
        std::string lock_file;
    };
    PosixPaths paths_;
    std::map<Handle, OpenPort> open_;
};

} // namespace

std::unique_ptr<SerialPort> make_posix_serial_port(PosixPaths paths) {
    return std::make_unique<PosixSerialPort>(std::move(paths));
}

std::unique_ptr<SerialPort> make_serial_port() {
    return make_posix_serial_port(PosixPaths::system());
}

} // namespace platform
