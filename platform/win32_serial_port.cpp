// The serial port on Windows: synchronous one-byte reads and writes whose time-outs the driver
// keeps.
#include "win32_ports.h"

#include <chrono>
#include <map>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD input_queue = 10000;
constexpr auto read_timeout = std::chrono::milliseconds(10);
constexpr auto retry_interval = std::chrono::seconds(1);

// Lets the rest of a read's time pass. Sleep may end a little early, so the clock decides.
void wait_until(Clock::time_point deadline) {
    for (auto now = Clock::now(); now < deadline; now = Clock::now())
        Sleep(static_cast<DWORD>(
            std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
}

// Whether the error of a failed call means that the device has gone. Drivers of USB adapters
// that are pulled out differ in what they report; a time-out, a line error and an aborted
// call (ERROR_OPERATION_ABORTED, also the mark of a line error that halts the port) do not
// count: for those, ClearCommError decides.
bool device_gone(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY: // also Wine's word for a terminal that has hung up
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_IO_DEVICE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

// Clears any error left on the device, discards both queues, sets 9600 8N1 without flow
// control, a 10 ms read time-out and a 110 ms write time-out. Results are ignored: a device
// that rejects a setting still counts as open.
void configure(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(port, &errors, &status);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    BuildCommDCBA("baud=9600 parity=N data=8 stop=1", &dcb);
    // Flow control stays off whatever the driver held before; a station never sends XOFF and
    // seldom wires the handshake lines.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    SetCommState(port, &dcb);

    // A one-byte read returns as soon as the byte is there, or empty after 10 ms; a one-byte
    // write gives up after 10 * 1 + 100 ms.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 10;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 100;
    SetCommTimeouts(port, &timeouts);

    // Replies that arrive between two polls wait here for the next read.
    SetupComm(port, input_queue, 0);
}

// A port whose device has gone is closed at once, so that the system can give the adapter its
// old COM number when it comes back, and is opened again at most once a second under the same
// handle and with the same settings. Until then every read is a miss that takes its time.
class Win32SerialPort : public SerialPort {
public:
    ~Win32SerialPort() override {
        for (auto& [handle, p] : open_)
            detach(p);
    }

    Handle open(int port) override {
        OpenPort p;
        p.port = port;
        if (!attach(p))
            return no_handle;
        // Handles are our own numbers: the system's handle changes when the device comes
        // back, the one the link holds does not.
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
        DWORD written = 0;
        if (!WriteFile(p->os, &value, 1, &written, nullptr))
            check(*p, GetLastError());
    }

    std::optional<std::uint8_t> read_byte(Handle h) override {
        const auto deadline = Clock::now() + read_timeout;
        OpenPort* p = find_present(h);
        if (p) {
            std::uint8_t byte = 0;
            DWORD got = 0;
            const bool ok = ReadFile(p->os, &byte, 1, &got, nullptr);
            if (ok && got == 1)
                return byte;
            check(*p, ok ? ERROR_SUCCESS : GetLastError());
        } else if (!open_.contains(h)) {
            return std::nullopt; // never opened or closed: nothing to wait for
        }
        // A failed call or a device that is away returns at once: take the time-out here, so
        // that a caller polling the port never spins.
        wait_until(deadline);
        return std::nullopt;
    }

    HANDLE system_handle(Handle h) const {
        const auto it = open_.find(h);
        return it == open_.end() ? INVALID_HANDLE_VALUE : it->second.os;
    }

private:
    struct OpenPort {
        int port = 0;                     // the COM number the device is opened by again
        HANDLE os = INVALID_HANDLE_VALUE; // INVALID_HANDLE_VALUE while the device is away
        Clock::time_point next_try;       // while away: the earliest time to open it again
    };

    static bool attach(OpenPort& p) {
        const std::string path = com_device_path(p.port);
        if (path.empty())
            return false;
        // Share mode 0: no other program may hold the port while we do.
        const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        // CreateFileA fails with INVALID_HANDLE_VALUE; 0 is never a usable handle either.
        if (h == INVALID_HANDLE_VALUE || h == nullptr)
            return false;
        configure(h);
        p.os = h;
        return true;
    }

    static void detach(OpenPort& p) {
        if (p.os == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(p.os);
        p.os = INVALID_HANDLE_VALUE;
    }

    // After a call that failed with `error` or a read that gave nothing: clears a line error,
    // which would otherwise halt the port, and lets the device go when either call says that
    // it has gone. Wine, for one, reads a hung-up terminal as empty and only fails the rest.
    void check(OpenPort& p, DWORD error) {
        DWORD errors = 0;
        const DWORD clear_error =
            ClearCommError(p.os, &errors, nullptr) ? ERROR_SUCCESS : GetLastError();
        if (!device_gone(error) && !device_gone(clear_error))
            return;
        detach(p);
        p.next_try = Clock::now() + retry_interval;
    }

    // The open port of `h` with its device present, opening a device that has gone again
    // when its time has come; null when there is no such port or its device is still away.
    OpenPort* find_present(Handle h) {
        const auto it = open_.find(h);
        if (it == open_.end())
            return nullptr;
        OpenPort& p = it->second;
        if (p.os == INVALID_HANDLE_VALUE) {
            const auto now = Clock::now();
            if (now < p.next_try)
                return nullptr;
            p.next_try = now + retry_interval;
            if (!attach(p))
                return nullptr;
        }
        return &p;
    }

    std::map<Handle, OpenPort> open_;
    Handle next_handle_ = 1;
};

} // namespace

std::string com_device_path(int port) {
    if (port < 0 || port > highest_port)
        return {};
    return "\\\\.\\COM" + std::to_string(port);
}

HANDLE system_handle(const SerialPort& port, Handle h) {
    const auto* ours = dynamic_cast<const Win32SerialPort*>(&port);
    return ours ? ours->system_handle(h) : INVALID_HANDLE_VALUE;
}

std::unique_ptr<SerialPort> make_serial_port() {
    return std::make_unique<Win32SerialPort>();
}

} // namespace platform
