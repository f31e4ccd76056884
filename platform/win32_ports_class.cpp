#include "win32_ports_class.h"

#include <algorithm>

namespace platform {

namespace {

constexpr GUID ports_class = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// Port names are short; a longer value is no port name.
constexpr DWORD name_capacity = 256;

} // namespace

void for_each_ports_class_device(
    const std::function<bool(HDEVINFO, SP_DEVINFO_DATA&, const std::string& port_name)>& visit) {
    const HDEVINFO devices = SetupDiGetClassDevsA(&ports_class, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        char name[name_capacity];
        DWORD length = sizeof name;
        DWORD type = 0;
        const bool named =
            RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                             &length) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        if (named &&
            !visit(devices, device, std::string(name, std::find(name, name + length, '\0'))))
            break;
    }
    SetupDiDestroyDeviceInfoList(devices);
}

} // namespace platform
