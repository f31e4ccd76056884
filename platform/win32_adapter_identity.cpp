// The USB adapter behind a port on Windows, from the device manager: the port's device
// instance ID, its parent's and its location path.
#include "adapter_identity.h"
#include "win32_ports.h"
#include "win32_ports_class.h"

#include <cfgmgr32.h>
#include <cstring>
#include <vector>

namespace platform {

namespace {

std::string instance_id(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    return SetupDiGetDeviceInstanceIdA(devices, &device, id, MAX_DEVICE_ID_LEN, nullptr) ? id : "";
}

std::string parent_id(const SP_DEVINFO_DATA& device) {
    DEVINST parent = 0;
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Parent(&parent, device.DevInst, 0) != CR_SUCCESS ||
        CM_Get_Device_IDA(parent, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return id;
}

// The first of the device's location paths ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)"), or
// empty when it has none.
std::string location_path(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    std::vector<BYTE> data(1024);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_LOCATION_PATHS, &type,
                                              data.data(), static_cast<DWORD>(data.size()),
                                              &size)) {
            if (type != REG_MULTI_SZ)
                return {};
            const auto* first = reinterpret_cast<const char*>(data.data());
            return std::string(first, strnlen(first, std::min<std::size_t>(size, data.size())));
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= data.size())
            return {};
        data.resize(size);
    }
    return {};
}

} // namespace

AdapterIdentity port_identity(const std::string& name) {
    AdapterIdentity identity;
    for_each_ports_class_device(
        [&](HDEVINFO devices, SP_DEVINFO_DATA& device, const std::string& port_name) {
            if (name_key(port_name) != name_key(name))
                return true;
            identity = instance_id_identity(instance_id(devices, device), parent_id(device),
                                            location_path(devices, device));
            return false;
        });
    return identity;
}

} // namespace platform
