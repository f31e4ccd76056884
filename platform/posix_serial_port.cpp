// The serial port on Linux: termios, with every lock that other serial programs honour.
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
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

// A port whose device has gone (a USB adapter pulled out) is closed at once, so that the
// system can give the adapter its old name when it comes back, and is looked for again at most
// once a second under the same handle. Until it is back, every read is a miss, as on any port
// that gives no bytes.
class PosixSerialPort : public SerialPort {
public:
    explicit PosixSerialPort(PosixPaths paths) : paths_(std::move(paths)) {}

    ~PosixSerialPort() override {
        while (!open_.empty())
            close(open_.begin()->first);
    }

    Handle open(int port) override {
        OpenPort p;
        p.port = port;
        if (!attach(p))
            return no_handle;
        // Handles are our own numbers, not descriptors: the descriptor changes when the device
        // comes back, the handle the link holds does not.
        const Handle h = next_handle_++;
        open_[h] = p;
        return h;
    }

    void close(Handle h) override {
        const auto it = open_.find(h);
        if (it == open_.end())
            return;
        detach(it->second);
        open_.erase(it);
    }

    void write_byte(Handle h, std::uint8_t value) override {
        OpenPort* p = find_present(h);
        if (!p)
            return;
        const int fd = p->fd;
        const auto deadline = Clock::now() + write_timeout;
        for (;;) {
            const ssize_t n = ::write(fd, &value, 1);
            if (n == 1)
                return;
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return; // a device that has gone shows it to the read that follows
            const short ev = wait_for(fd, POLLOUT, deadline);
            if (!(ev & POLLOUT))
                return;
        }
    }

    std::optional<std::uint8_t> read_byte(Handle h) override {
        const auto deadline = Clock::now() + read_timeout;
        OpenPort* p = find_present(h);
        if (!p) {
            if (open_.count(h))
                std::this_thread::sleep_until(deadline); // away: a miss that takes its time
            return std::nullopt;
        }
        for (;;) {
            const short ev = wait_for(p->fd, POLLIN, deadline);
            if (ev == 0)
                return std::nullopt;
            if (ev & POLLIN) {
                std::uint8_t b = 0;
                const ssize_t n = ::read(p->fd, &b, 1);
                if (n == 1)
                    return b;
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
            }
            // Hung up, end of file or a read error: the device has gone. Let go of it now and
            // still take the whole read time-out, so that a caller polling it never spins.
            detach(*p);
            p->next_try = Clock::now() + retry_interval;
            std::this_thread::sleep_until(deadline);
            return std::nullopt;
        }
    }

private:
    struct OpenPort {
        int port = 0; // the number it was opened by: the device is looked up again by it
        int fd = -1;  // -1 while the device is away
        bool set_exclusive = false;
        std::string lock_file;
        std::optional<termios> found; // the line's settings as the open found them
        Clock::time_point next_try;   // while away: the earliest time to look for it again
    };

    static constexpr auto retry_interval = std::chrono::seconds(1);

    // Opens the device of p.port exclusively and sets the line up. False when it does not
    // exist, is no character device, cannot be opened, or another program holds it.
    bool attach(OpenPort& p) {
        const std::string path = device_for_port(paths_, p.port);
        if (path.empty())
            return false;
        // The port map may point anywhere: at a regular file the poll byte would overwrite, at a
        // FIFO (O_NONBLOCK keeps it from holding up the open), a folder or a socket. Only a
        // character device is a port; the descriptor is asked, so what was checked is what gets
        // used.
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
            ::close(fd);
            return false;
        }
        int exclusive = 0;
        std::string lock_file;
        const bool held = (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) ||
                          (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) ||
                          !take_uucp_lock(paths_.lock_dir, device_name(path), lock_file);
        if (held) {
            ::close(fd);
            return false;
        }
        p.fd = fd;
        p.lock_file = lock_file;
        p.set_exclusive = ::ioctl(fd, TIOCEXCL) == 0;
        termios found{};
        if (::tcgetattr(fd, &found) == 0)
            p.found = found;
        configure(fd);
        return true;
    }

    // Gives the device back: its line settings, the exclusive mark, the lock file and the
    // descriptor.
    void detach(OpenPort& p) {
        if (p.fd < 0)
            return;
        if (p.found) {
            // A terminal behind the port map must not stay raw at 9600 after we are done. Output
            // still queued was meant for our settings, and under the flow control given back it
            // might keep the close waiting, so it is dropped first. A device that has gone
            // refuses both calls, which changes nothing.
            ::tcflush(p.fd, TCOFLUSH);
            ::tcsetattr(p.fd, TCSANOW, &*p.found);
        }
        if (p.set_exclusive)
            ::ioctl(p.fd, TIOCNXCL);
        if (!p.lock_file.empty())
            ::unlink(p.lock_file.c_str());
        ::close(p.fd);
        p.fd = -1;
        p.set_exclusive = false;
        p.lock_file.clear();
        p.found.reset();
    }

    // The open port of `h` with its device present, looking for a device that has gone when
    // its time has come; null when there is no such port or its device is still away.
    OpenPort* find_present(Handle h) {
        const auto it = open_.find(h);
        if (it == open_.end())
            return nullptr;
        OpenPort& p = it->second;
        if (p.fd < 0) {
            const auto now = Clock::now();
            if (now < p.next_try)
                return nullptr;
            p.next_try = now + retry_interval;
            if (!attach(p))
                return nullptr;
        }
        return &p;
    }

    PosixPaths paths_;
    std::map<Handle, OpenPort> open_;
    Handle next_handle_ = 1;
};

} // namespace

std::unique_ptr<SerialPort> make_posix_serial_port(PosixPaths paths) {
    return std::make_unique<PosixSerialPort>(std::move(paths));
}

std::unique_ptr<SerialPort> make_serial_port() {
    return make_posix_serial_port(PosixPaths::system());
}

} // namespace platform
