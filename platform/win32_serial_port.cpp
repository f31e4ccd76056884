// The serial port on Windows: synchronous one-byte reads and writes whose time-outs the driver
// keeps.
#include "port_life.h"
#include "win32_ports.h"

namespace platform {

namespace {

constexpr DWORD input_queue = 10000;
constexpr DWORD no_such_device = 433; // ERROR_NO_SUCH_DEVICE, missing from some headers

// The calls behind a COM port on Windows.
class Win32System : public SerialSystem {
public:
    std::optional<Device> open(const PortId& port) override {
        const std::string path = device_path(port);
        if (path.empty())
            return std::nullopt;
        // Share mode 0: no other program may hold the port while we do.
        const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        // CreateFileA fails with INVALID_HANDLE_VALUE; 0 is never a usable handle either.
        if (h == INVALID_HANDLE_VALUE || h == nullptr)
            return std::nullopt;
        // A COM name may stand for any path (a DOS device name that any program can define,
        // Wine's port map): only a character device whose line settings can be read is a
        // serial port. Anything else is let go before a byte is written to it or a setting
        // changed: a file would be overwritten by the polls, a FIFO would block the first read
        // for ever, and the bare device that Wine opens for a port whose device path is missing
        // fails every call.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &dcb)) {
            CloseHandle(h);
            return std::nullopt;
        }
        configure(h, dcb);
        watch_removal(h);
        return reinterpret_cast<Device>(h);
    }

    void close(Device device) override {
        unwatch_removal(handle(device)); // before the handle's value can be given out again
        CloseHandle(handle(device));
    }

    Read read(Device device) override {
        std::uint8_t byte = 0;
        DWORD got = 0;
        if (!ReadFile(handle(device), &byte, 1, &got, nullptr))
            return {Read::Kind::failed, 0, static_cast<long>(GetLastError())};
        if (got == 1)
            return {Read::Kind::byte, byte, 0};
        return {};
    }

    long write(Device device, std::uint8_t value) override {
        DWORD written = 0;
        if (WriteFile(handle(device), &value, 1, &written, nullptr))
            return 0;
        return static_cast<long>(GetLastError());
    }

    // Which state calls work differs from driver to driver: some virtual ports always fail
    // ClearCommError, and after an adapter has been pulled out some drivers still clear errors
    // but can no longer tell their modem lines or settings. Each call also clears a line error,
    // which would otherwise halt the port.
    unsigned line_state(Device device) override {
        const HANDLE h = handle(device);
        DWORD errors = 0;
        DWORD lines = 0;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        return (ClearCommError(h, &errors, nullptr) ? 1u : 0u) |
               (GetCommModemStatus(h, &lines) ? 2u : 0u) | (GetCommState(h, &dcb) ? 4u : 0u);
    }

    // The system's name for the port, which goes when its device is taken away.
    bool present(const PortId& port) override {
        char target[512];
        return QueryDosDeviceA(system_name(port).c_str(), target, sizeof target) != 0;
    }

    bool removed(Device device) override { return removal_told(handle(device)); }

    AdapterIdentity identity(const PortId& port) override {
        return port_identity(system_name(port));
    }

    // The errors that only a device that has gone gives. Others (a time-out, a line error, an
    // aborted call, access refused, a command the driver does not know) are left to the state
    // calls, which tell a pulled adapter from a port that merely reports odd errors.
    bool gone(long error) const override {
        switch (static_cast<DWORD>(error)) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_HANDLE:
        case ERROR_NOT_READY: // also Wine's word for a terminal that has hung up
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case no_such_device:
            return true;
        default:
            return false;
        }
    }

private:
    static HANDLE handle(Device device) { return reinterpret_cast<HANDLE>(device); }

    // "COM5", or the port's own name.
    static std::string system_name(const PortId& port) {
        return port.name.empty() ? "COM" + std::to_string(port.number) : port.name;
    }

    static std::string device_path(const PortId& port) {
        return port.name.empty() ? com_device_path(port.number) : named_device_path(port.name);
    }

    // Clears any error left on the device, discards both queues, sets the whole line state on
    // `dcb` (the settings read at the open), a 10 ms read time-out and a 110 ms write time-out.
    // Results are ignored: a device that rejects a setting still counts as open.
    static void configure(HANDLE port, DCB dcb) {
        DWORD errors = 0;
        COMSTAT status{};
        ClearCommError(port, &errors, &status);
        PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);

        set_line(dcb);
        if (!SetCommState(port, &dcb)) {
            // A driver that refuses one field of the DCB takes none of them; the lines that
            // power or wake the station are raised on their own.
            EscapeCommFunction(port, SETDTR);
            EscapeCommFunction(port, SETRTS);
        }

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
};

} // namespace

void set_line(DCB& dcb) {
    dcb.DCBlength = sizeof dcb;
    BuildCommDCBA("baud=9600 parity=N data=8 stop=1", &dcb);
    // The string sets only the speed and the frame: every other field keeps what the driver last
    // held, which may be another program's handshake or lines left down. The in-box drivers
    // drop DTR and RTS at every close, and a station powered from them, or one that waits for
    // DTR, would never answer.
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE; // a line error must not halt every read that follows
    dcb.fDummy2 = 0;
    dcb.wReserved = 0;
    // Unused without flow control, but checked: the limits must fit the queue and the two
    // characters differ.
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    dcb.wReserved1 = 0;
}

std::string com_device_path(int port) {
    if (port < 0 || port > highest_port)
        return {};
    return "\\\\.\\COM" + std::to_string(port);
}

std::string named_device_path(const std::string& name) {
    // A name is a device of the system's own namespace, never a path into another folder.
    if (name.empty() || name.size() > 64 || name.find_first_of("\\/:*?\"<>|") != std::string::npos)
        return {};
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 32)
            return {};
    return "\\\\.\\" + name;
}

HANDLE system_handle(const SerialPort& port, Handle h) {
    const auto* ours = dynamic_cast<const LivePort*>(&port);
    const auto device = ours ? ours->device(h) : std::nullopt;
    return device ? reinterpret_cast<HANDLE>(*device) : INVALID_HANDLE_VALUE;
}

std::unique_ptr<SerialPort> make_serial_port(LivePort::Timing timing) {
    return std::make_unique<LivePort>(std::make_shared<Win32System>(), timing);
}

std::unique_ptr<SerialPort> make_serial_port() {
    return make_serial_port({});
}

} // namespace platform
