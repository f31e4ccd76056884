// The serial port on Windows: synchronous one-byte reads and writes whose time-outs the driver
// keeps.
#include "win32_ports.h"

#include <set>

namespace platform {

namespace {

constexpr DWORD input_queue = 10000;

HANDLE to_win(Handle h) {
    return reinterpret_cast<HANDLE>(h);
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

class Win32SerialPort : public SerialPort {
public:
    ~Win32SerialPort() override {
        while (!open_.empty())
            close(*open_.begin());
    }

    Handle open(int port) override {
        const std::string path = com_device_path(port);
        if (path.empty())
            return no_handle;
        // Share mode 0: no other program may hold the port while we do.
        const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        const Handle handle = reinterpret_cast<Handle>(h);
        if (!is_open_handle(handle))
            return no_handle;
        configure(h);
        open_.insert(handle);
        return handle;
    }

    void close(Handle h) override {
        if (open_.erase(h) != 0)
            CloseHandle(to_win(h));
    }

    void write_byte(Handle h, std::uint8_t value) override {
        if (!open_.contains(h))
            return;
        DWORD written = 0;
        WriteFile(to_win(h), &value, 1, &written, nullptr);
    }

    std::optional<std::uint8_t> read_byte(Handle h) override {
        if (!open_.contains(h))
            return std::nullopt;
        std::uint8_t byte = 0;
        DWORD got = 0;
        if (ReadFile(to_win(h), &byte, 1, &got, nullptr)) {
            if (got == 1)
                return byte;
            return std::nullopt; // the 10 ms time-out ran out
        }
        // A line error halts the port until it is cleared; a removed device fails at once,
        // so take the time-out here to keep a caller that polls it from spinning.
        DWORD errors = 0;
        ClearCommError(to_win(h), &errors, nullptr);
        Sleep(10);
        return std::nullopt;
    }

private:
    std::set<Handle> open_; // handles this object opened and has not closed
};

} // namespace

std::string com_device_path(int port) {
    if (port < 0 || port > highest_port)
        return {};
    return "\\\\.\\COM" + std::to_string(port);
}

std::unique_ptr<SerialPort> make_serial_port() {
    return std::make_unique<Win32SerialPort>();
}

} // namespace platform
