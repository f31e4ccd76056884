// The port list on Windows: the values under HARDWARE\DEVICEMAP\SERIALCOMM.
#include "win32_ports.h"

#include <algorithm>

namespace platform {

namespace {

constexpr DWORD name_capacity = 256;
constexpr DWORD data_capacity = 1024;
// A key deleted while it is listed fails at every index without ever reporting its end; so do
// overlong values. Failures are passed over up to this far beyond the key's value count.
constexpr DWORD failure_slack = 16;

class RegistryPortLister : public PortLister {
public:
    std::vector<std::string> list() override {
        return list_registry_ports(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
    }
};

} // namespace

std::vector<std::string> list_registry_ports(HKEY root, const char* subkey) {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    DWORD values = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        values = 0;
    char name[name_capacity];
    BYTE data[data_capacity];
    for (DWORD index = 0;; ++index) {
        DWORD name_length = name_capacity;
        DWORD data_length = data_capacity;
        DWORD type = 0;
        const LONG result =
            RegEnumValueA(key, index, name, &name_length, nullptr, &type, data, &data_length);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS) {
            // The reported length counts a text value's NUL, which stays part of the entry;
            // whatever an earlier, longer value left in the buffer beyond it does not.
            ports.emplace_back(reinterpret_cast<const char*>(data),
                               std::min(data_length, data_capacity));
            continue;
        }
        // A value that cannot be read is left out: its buffer holds nothing of its own.
        if (index >= values + failure_slack)
            break;
    }
    RegCloseKey(key);
    return ports;
}

std::unique_ptr<PortLister> make_port_lister() {
    return std::make_unique<RegistryPortLister>();
}

} // namespace platform
