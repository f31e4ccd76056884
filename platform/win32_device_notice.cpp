// Windows tells a window of the removal of an open device only when that window has asked for
// each handle. The open devices are noted here, from the threads that open and close them, and
// the window's thread marks those that Windows says are going.
#include "win32_device_notice.h"

#include <dbt.h>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

namespace {

struct Watch {
    HDEVNOTIFY notice = nullptr; // none while no window is known, or Windows refused
    bool removed = false;
};

struct Notices {
    std::mutex mutex;
    HWND window = nullptr;
    std::map<HANDLE, Watch> open;
};

Notices& notices() {
    static Notices n;
    return n;
}

// Registration and its undoing happen outside the lock: Windows may be delivering a notice to
// the window's thread meanwhile, which waits for the lock in device_removal.
HDEVNOTIFY ask_for_notices(HWND window, HANDLE device) {
    if (!window)
        return nullptr;
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = device;
    return RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

// Keeps `notice`, made for `window`, while `device` is still open without one and `window` is
// still the one to tell; gives it back otherwise.
void keep(HANDLE device, HWND window, HDEVNOTIFY notice) {
    if (!notice)
        return;
    Notices& n = notices();
    {
        std::lock_guard lock(n.mutex);
        const auto it = n.open.find(device);
        if (it != n.open.end() && !it->second.notice && n.window == window) {
            it->second.notice = notice;
            return;
        }
    }
    UnregisterDeviceNotification(notice);
}

} // namespace

void set_device_notice_window(HWND window) {
    Notices& n = notices();
    std::vector<HANDLE> devices;
    std::vector<HDEVNOTIFY> old;
    {
        std::lock_guard lock(n.mutex);
        n.window = window;
        for (auto& [device, watch] : n.open) {
            devices.push_back(device);
            if (watch.notice)
                old.push_back(std::exchange(watch.notice, nullptr));
        }
    }
    for (const HDEVNOTIFY notice : old)
        UnregisterDeviceNotification(notice);
    // The port opened while the window was being made is registered now.
    for (const HANDLE device : devices)
        keep(device, window, ask_for_notices(window, device));
}

void device_removal(HANDLE device) {
    Notices& n = notices();
    std::lock_guard lock(n.mutex);
    if (const auto it = n.open.find(device); it != n.open.end())
        it->second.removed = true;
}

void watch_removal(HANDLE device) {
    Notices& n = notices();
    HWND window = nullptr;
    {
        std::lock_guard lock(n.mutex);
        n.open[device] = {};
        window = n.window;
    }
    keep(device, window, ask_for_notices(window, device));
}

void unwatch_removal(HANDLE device) {
    Notices& n = notices();
    HDEVNOTIFY notice = nullptr;
    {
        std::lock_guard lock(n.mutex);
        const auto it = n.open.find(device);
        if (it == n.open.end())
            return;
        notice = it->second.notice;
        n.open.erase(it);
    }
    if (notice)
        UnregisterDeviceNotification(notice);
}

bool removal_told(HANDLE device) {
    Notices& n = notices();
    std::lock_guard lock(n.mutex);
    const auto it = n.open.find(device);
    return it != n.open.end() && it->second.removed;
}

} // namespace platform
