#include "adapter_identity.h"

#include <cctype>
#include <optional>

namespace platform {

namespace {

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool same_text(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// The `digits` hex digits after `prefix` in `field` ("VID_0403", "MI_00"), in lower case, or
// empty when `field` is not of that form.
std::string hex_field(std::string_view field, std::string_view prefix, std::size_t digits) {
    if (field.size() != prefix.size() + digits ||
        !same_text(field.substr(0, prefix.size()), prefix))
        return {};
    std::string hex;
    for (const char c : field.substr(prefix.size())) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
        hex += lower(c);
    }
    return hex;
}

// `text` cut at the first `separator`: the part before it, and `text` keeps the rest (empty
// when there was none). Gives nothing when `text` holds no separator.
std::optional<std::string_view> take_until(std::string_view& text, char separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::string_view head = text.substr(0, at);
    text.remove_prefix(at + 1);
    return head;
}

bool printable(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            return false;
    }
    return !text.empty();
}

// "<enumerator>\<device>\<instance>", the three parts of every device instance ID.
struct IdParts {
    std::string_view bus, device, instance;
};

std::optional<IdParts> split_id(std::string_view text) {
    const auto bus = take_until(text, '\\');
    const auto device = take_until(text, '\\');
    if (!bus || !device || text.find('\\') != std::string_view::npos)
        return std::nullopt;
    return IdParts{*bus, *device, text};
}

// The vendor, product and interface read from an instance ID, and the part of it that holds
// the serial number or the stand-in that Windows makes up for an adapter without one.
struct ParsedId {
    AdapterIdentity id;
    std::string_view number;
};

// "USB\VID_0403&PID_6001\A50285BI" or, for an interface of a composite device,
// "USB\VID_2341&PID_8036&MI_00\6&1234ABCD&0&0000".
std::optional<ParsedId> parse_usb(std::string_view text) {
    const auto parts = split_id(text);
    if (!parts || !same_text(parts->bus, "USB") || !printable(parts->instance))
        return std::nullopt;
    ParsedId parsed{{}, parts->instance};
    std::string_view device = parts->device;
    const auto vendor = take_until(device, '&');
    const auto product = take_until(device, '&');
    parsed.id.vendor = hex_field(vendor.value_or(""), "VID_", 4);
    if (product) {
        parsed.id.product = hex_field(*product, "PID_", 4);
        parsed.id.usb_interface = hex_field(device, "MI_", 2);
        if (parsed.id.usb_interface.empty())
            return std::nullopt;
    } else {
        parsed.id.product = hex_field(device, "PID_", 4);
    }
    if (parsed.id.vendor.empty() || parsed.id.product.empty())
        return std::nullopt;
    return parsed;
}

// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000": the FTDI bus driver's own ports, whose serial
// number ends in the letter of the chip's port.
std::optional<ParsedId> parse_ftdibus(std::string_view text) {
    const auto parts = split_id(text);
    if (!parts || !same_text(parts->bus, "FTDIBUS"))
        return std::nullopt;
    std::string_view device = parts->device;
    const auto vendor = take_until(device, '+');
    const auto product = take_until(device, '+');
    if (!vendor || !product || !printable(device))
        return std::nullopt;
    ParsedId parsed{{hex_field(*vendor, "VID_", 4), hex_field(*product, "PID_", 4), {}, {}, {}},
                    device};
    if (parsed.id.vendor.empty() || parsed.id.product.empty())
        return std::nullopt;
    return parsed;
}

// Windows makes up the instance of an adapter without a serial number from its hub and port
// ("5&2A3B4C&0&2"); a real serial number holds no '&'. The made-up one, or better the location
// path, then tells the socket.
AdapterIdentity with_number(AdapterIdentity id, std::string_view number,
                            std::string_view location) {
    if (number.find('&') == std::string_view::npos) {
        id.serial = number;
        id.socket = location;
    } else {
        id.socket = location.empty() ? number : location;
    }
    return id;
}

} // namespace

bool same_adapter(const AdapterIdentity& a, const AdapterIdentity& b) {
    if (!a.usb() || !b.usb() || a.vendor != b.vendor || a.product != b.product ||
        a.usb_interface != b.usb_interface)
        return false;
    if (!a.serial.empty() || !b.serial.empty())
        return a.serial == b.serial;
    return !a.socket.empty() && a.socket == b.socket;
}

AdapterIdentity instance_id_identity(std::string_view instance_id, std::string_view parent_id,
                                     std::string_view location) {
    if (const auto ftdi = parse_ftdibus(instance_id))
        return with_number(ftdi->id, ftdi->number, location);
    const auto usb = parse_usb(instance_id);
    if (!usb)
        return {};
    if (usb->id.usb_interface.empty())
        return with_number(usb->id, usb->number, location);
    // An interface of a composite device: its own instance is always made up, the serial
    // number is its parent's, the device itself.
    const auto parent = parse_usb(parent_id);
    if (!parent || parent->id.vendor != usb->id.vendor || parent->id.product != usb->id.product ||
        !parent->id.usb_interface.empty())
        return {};
    return with_number(usb->id, parent->number, location);
}

} // namespace platform
