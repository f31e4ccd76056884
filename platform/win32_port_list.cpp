// The port list on Windows: the values under HARDWARE\DEVICEMAP\SERIALCOMM, then the ports of
// the device manager's Ports class that the registry does not list.
#include "win32_ports.h"
#include "win32_ports_class.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

constexpr DWORD name_capacity = 256;
constexpr DWORD data_capacity = 1024;
// A key deleted while it is listed fails at every index without ever reporting its end; so do
// overlong values. Failures are passed over up to this far beyond the key's value count.
constexpr DWORD failure_slack = 16;

// The "PortName" of every present device of the Ports class, in the device manager's order.
// Some drivers (virtual null-modem pairs, some Bluetooth stacks) register their ports only
// there and never under SERIALCOMM.
std::vector<std::string> device_manager_ports() {
    std::vector<std::string> names;
    for_each_ports_class_device([&](HDEVINFO, SP_DEVINFO_DATA&, const std::string& name) {
        names.push_back(name);
        return true;
    });
    return names;
}

class SystemPortLister : public PortLister {
public:
    std::vector<std::string> list() override {
        return merge_port_lists(
            list_registry_ports(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM"),
            device_manager_ports());
    }
};

} // namespace

std::string name_key(const std::string& name) {
    std::string key;
    for (const char c : name)
        if (c != '\0')
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

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

std::vector<std::string> merge_port_lists(std::vector<std::string> registry,
                                          const std::vector<std::string>& device_manager) {
    std::vector<std::string> seen;
    for (const auto& name : registry)
        seen.push_back(name_key(name));
    for (const auto& name : device_manager) {
        std::string key = name_key(name);
        // Printer ports share the class; an empty name is no port.
        if (key.empty() || key.starts_with("LPT") ||
            std::find(seen.begin(), seen.end(), key) != seen.end())
            continue;
        // In the registry's form: the name and one NUL.
        registry.push_back(std::string(name.c_str()) + '\0');
        seen.push_back(std::move(key));
    }
    return registry;
}

std::unique_ptr<PortLister> make_port_lister() {
    return std::make_unique<SystemPortLister>();
}

} // namespace platform
