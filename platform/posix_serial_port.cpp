// The serial port on Linux: termios, with every lock that other serial programs honour.
#include "port_life.h"
#include "posix_ports.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
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

// What a lock file says about its port.
enum class Lock { gone, stale, held };

// The owner's process id in a lock file: as text, ten characters and a line feed as most
// programs write it, or, in the older binary form, a native 4-byte int that is the whole file.
// A text lock never holds a NUL byte and a binary one always does (process ids stay below
// 2^22), which tells "123\n" from a binary id. 0 when the bytes hold neither.
long long lock_pid(const char* bytes, std::size_t n, bool four_byte_file) {
    if (four_byte_file && n == 4 && std::memchr(bytes, 0, n)) {
        std::int32_t pid = 0;
        std::memcpy(&pid, bytes, sizeof pid);
        return pid;
    }
    std::size_t i = 0;
    while (i < n && (bytes[i] == ' ' || bytes[i] == '\t'))
        ++i;
    long long pid = 0;
    for (std::size_t digits = 0; i < n && digits < 10 && bytes[i] >= '0' && bytes[i] <= '9';
         ++i, ++digits)
        pid = pid * 10 + (bytes[i] - '0');
    return pid;
}

// The lock folder is writable by everyone, so a lock file may be anything. It is opened without
// following a link and without waiting (a FIFO would keep a plain open waiting for a writer for
// ever), and only a regular file is read, and only its first bytes. A lock that is not a regular
// file counts as held: no serial program writes one, so someone made it on purpose, and a port
// that cannot be shown to be free is not taken; removing it gives the port back. The same goes
// for a lock that cannot be read.
Lock read_lock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Lock::gone : Lock::held;
    struct stat st {};
    char bytes[32];
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, bytes, sizeof bytes);
    ::close(fd);
    if (n < 0)
        return Lock::held;
    const long long pid = lock_pid(bytes, static_cast<std::size_t>(n), st.st_size == 4);
    if (pid <= 0 || pid > 0x7fffffff)
        return Lock::stale; // junk, such as a file whose writer died before filling it
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)
        return Lock::held;
    return Lock::stale;
}

// Takes the UUCP lock for `device`. Returns false only when another process holds it. A lock
// folder this user may not write to, or a stale lock that cannot be removed (another user's in
// the sticky lock folder), does not keep the port from being used: flock and the exclusive mode
// still keep every other opener out, only without a lock file of ours.
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
        switch (read_lock(path)) {
        case Lock::held:
            return false;
        case Lock::gone: // let go of in the meantime
            break;
        case Lock::stale:
            if (::unlink(path.c_str()) != 0 && errno != ENOENT)
                return true;
            break;
        }
    }
    return false;
}

// 9600 8N1, raw, no flow control, reads that never block inside the driver. Failures are
// ignored: a device that rejects the settings still counts as open. True when the driver's
// low-latency mode was off and has been turned on.
bool configure(int fd) {
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
    // A station powered from the handshake lines, or one that waits for DTR, gets both raised,
    // whatever the program before us left them at.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &lines);
    // USB adapters otherwise hold received bytes for up to 16 ms, longer than one read.
    serial_struct ss{};
    bool low_latency_set = false;
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        low_latency_set = ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
    }
    ::tcflush(fd, TCIOFLUSH);
    return low_latency_set;
}

// Gives back the mode that configure() found: low latency outlives the descriptor, and the
// next program, or the kernel's own console on the port, pays for it in processor time.
void clear_low_latency(int fd) {
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags &= ~ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &ss);
    }
}

// The calls behind a serial device on Linux. A descriptor's lock file, exclusive mark and the
// line settings it was found with are kept until it is closed, to be given back then.
class PosixSystem : public SerialSystem {
public:
    explicit PosixSystem(PosixPaths paths) : paths_(std::move(paths)) {}

    // Opens the device of `port` exclusively and sets the line up. Nothing when it does not
    // exist, is no character device, cannot be opened, or another program holds it.
    std::optional<Device> open(const PortId& port) override {
        if (!port.name.empty())
            return std::nullopt; // every port here has a number
        const std::string path = device_for_port(paths_, port.number);
        if (path.empty())
            return std::nullopt;
        // The port map may point anywhere: at a regular file the poll byte would overwrite, at a
        // FIFO (O_NONBLOCK keeps it from holding up the open), a folder or a socket. Only a
        // character device is a port; the descriptor is asked, so what was checked is what gets
        // used.
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return std::nullopt;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
            ::close(fd);
            return std::nullopt;
        }
        int exclusive = 0;
        Held held;
        const bool taken = (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) ||
                           (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) ||
                           !take_uucp_lock(paths_.lock_dir, device_name(path), held.lock_file);
        if (taken) {
            ::close(fd);
            return std::nullopt;
        }
        held.set_exclusive = ::ioctl(fd, TIOCEXCL) == 0;
        termios found{};
        if (::tcgetattr(fd, &found) == 0)
            held.found = found;
        held.set_low_latency = configure(fd);
        std::lock_guard lock(mutex_);
        held_[fd] = std::move(held);
        return fd;
    }

    // Gives the device back: its line settings and driver mode, the exclusive mark, the lock
    // file and the descriptor.
    void close(Device device) override {
        const int fd = static_cast<int>(device);
        Held held;
        {
            std::lock_guard lock(mutex_);
            const auto it = held_.find(fd);
            if (it != held_.end()) {
                held = std::move(it->second);
                held_.erase(it);
            }
        }
        if (held.found) {
            // A terminal behind the port map must not stay raw at 9600 after we are done. Output
            // still queued was meant for our settings, and under the flow control given back it
            // might keep the close waiting, so it is dropped first. A device that has gone
            // refuses both calls, which changes nothing.
            ::tcflush(fd, TCOFLUSH);
            ::tcsetattr(fd, TCSANOW, &*held.found);
        }
        if (held.set_low_latency)
            clear_low_latency(fd);
        if (held.set_exclusive)
            ::ioctl(fd, TIOCNXCL);
        if (!held.lock_file.empty())
            ::unlink(held.lock_file.c_str());
        ::close(fd);
    }

    Read read(Device device) override {
        const int fd = static_cast<int>(device);
        const auto deadline = Clock::now() + read_timeout;
        for (;;) {
            const short ev = wait_for(fd, POLLIN, deadline);
            if (ev == 0)
                return {};
            if (ev & POLLIN) {
                std::uint8_t b = 0;
                const ssize_t n = ::read(fd, &b, 1);
                if (n == 1)
                    return {Read::Kind::byte, b, 0};
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                if (n < 0)
                    return {Read::Kind::failed, 0, errno};
            }
            // Hung up, or the end of the file: the device has gone.
            return {Read::Kind::failed, 0, EIO};
        }
    }

    long write(Device device, std::uint8_t value) override {
        const int fd = static_cast<int>(device);
        const auto deadline = Clock::now() + write_timeout;
        for (;;) {
            const ssize_t n = ::write(fd, &value, 1);
            if (n == 1)
                return 0;
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return errno;
            const short ev = wait_for(fd, POLLOUT, deadline);
            if (ev & (POLLHUP | POLLERR))
                return EIO;
            if (!(ev & POLLOUT))
                return 0; // out of time, which is no failure
        }
    }

    // The settings and the modem lines can be read from a device that is there. A
    // pseudo-terminal has no modem lines: that call never works on it, and so never counts.
    unsigned line_state(Device device) override {
        const int fd = static_cast<int>(device);
        termios t{};
        int lines = 0;
        return (::tcgetattr(fd, &t) == 0 ? 1u : 0u) |
               (::ioctl(fd, TIOCMGET, &lines) == 0 ? 2u : 0u);
    }

    bool present(const PortId& port) override {
        if (!port.name.empty())
            return false;
        const std::string path = device_for_port(paths_, port.number);
        struct stat st {};
        return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    }

    AdapterIdentity identity(const PortId& port) override {
        return port.name.empty() ? port_identity(paths_, port.number) : AdapterIdentity{};
    }

    bool gone(long error) const override {
        return error == EIO || error == ENXIO || error == ENODEV || error == EBADF ||
               error == EPIPE;
    }

private:
    struct Held {
        bool set_exclusive = false;
        bool set_low_latency = false; // the open turned the driver's low latency on
        std::string lock_file;
        std::optional<termios> found; // the line's settings as the open found them
    };

    PosixPaths paths_;
    std::mutex mutex_; // opens and closes run on threads of their own
    std::map<int, Held> held_;
};

} // namespace

std::unique_ptr<SerialPort> make_posix_serial_port(PosixPaths paths, LivePort::Timing timing) {
    return std::make_unique<LivePort>(std::make_shared<PosixSystem>(std::move(paths)), timing);
}

std::unique_ptr<SerialPort> make_serial_port() {
    return make_posix_serial_port(PosixPaths::system());
}

} // namespace platform
