// What Windows tells the form windows of devices that come and go: a USB serial adapter
// plugged in or pulled out, broadcast to every top-level window, and the removal of a device
// that the program holds open, told to the window that registered its handle.
#include "backend.h"
#include "text.h"

#include <cstddef>
#include <dbt.h>
#include <string_view>

namespace window_system::win32 {

namespace {

// The name of the port in a notice about a serial port ("COM5"), as UTF-8; empty for any other
// notice. The name runs to its NUL or to the end of the notice, whichever comes first.
std::string port_name(const DEV_BROADCAST_HDR* header) {
    constexpr std::size_t name_at = offsetof(DEV_BROADCAST_PORT_W, dbcp_name);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_PORT || header->dbch_size <= name_at)
        return {};
    const auto* port = reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header);
    const std::wstring_view name(port->dbcp_name, (header->dbch_size - name_at) / sizeof(wchar_t));
    return narrow(std::wstring(name.substr(0, name.find(L'\0'))));
}

} // namespace

LRESULT Backend::device_change(WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    switch (event) {
    case DBT_DEVICEARRIVAL:
        desktop().devices_changed(port_name(header));
        break;
    case DBT_DEVICEQUERYREMOVE:
    case DBT_DEVICEREMOVEPENDING:
    case DBT_DEVICEREMOVECOMPLETE:
        if (header && header->dbch_devicetype == DBT_DEVTYP_HANDLE) {
            if (on_handle_removal)
                on_handle_removal(
                    reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header)->dbch_handle);
            desktop().devices_changed(); // the port is asked whether it is lost, and lets go
        } else if (event == DBT_DEVICEREMOVECOMPLETE) {
            desktop().devices_changed();
        }
        break;
    case DBT_DEVNODES_CHANGED:
        desktop().devices_changed();
        break;
    default:
        break;
    }
    // TRUE also grants a query to remove a device, whose handle on_handle_removal has let go.
    return TRUE;
}

} // namespace window_system::win32
