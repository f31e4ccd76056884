// The settings on Windows: text values in the registry, named by key, under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>. That is where the
// program has always kept them, so settings stored by earlier versions carry over.
#include "settings_store.h"
#include "win32_text.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace platform {

namespace {

// A setting is a few characters. A value beyond this many bytes is not ours: it is not read,
// and none is written, so that what is stored can always be read back.
constexpr DWORD value_limit = 1 << 20;

const std::wstring settings_root = L"Software\\VB and VBA Program Settings";

// Registry text ends at its first NUL, for this program as for every other reader.
std::wstring up_to_nul(std::wstring text) {
    text.resize(std::min(text.find(L'\0'), text.size()));
    return text;
}

// A name with a NUL in it would name another key or value: such names are not used.
std::optional<std::wstring> name(const std::string& utf8) {
    if (utf8.find('\0') != std::string::npos)
        return std::nullopt;
    return wide_from(CP_UTF8, utf8);
}

std::optional<std::wstring> key_path(const std::string& app, const std::string& section) {
    const auto a = name(app);
    const auto s = name(section);
    if (!a || !s)
        return std::nullopt;
    return settings_root + L'\\' + *a + L'\\' + *s;
}

bool is_text(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ; // taken as stored, not expanded
}

// The text of value `name`, or nothing when it is missing, not text or too long. The data
// need not end in a NUL nor fill whole characters: it is cut to the length the registry reports
// and to whole characters, then at its first NUL.
std::optional<std::string> read_text(HKEY key, const std::wstring& name) {
    // Another program may change the value between the two calls; try again a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            !is_text(type) || size > value_limit)
            return std::nullopt;
        // One character more than needed, zero-filled, so that an odd byte count still fits.
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &got);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS || !is_text(type))
            return std::nullopt;
        data.resize(std::min<std::size_t>(got / sizeof(wchar_t), data.size()));
        return utf8_from_wide(up_to_nul(std::move(data)));
    }
    return std::nullopt;
}

class RegistryStore : public SettingsStore {
public:
    std::string get(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& fallback) override {
        const auto path = key_path(app, section);
        const auto value_name = name(key);
        if (!path || !value_name)
            return fallback;
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path->c_str(), 0, KEY_QUERY_VALUE, &handle) !=
            ERROR_SUCCESS)
            return fallback;
        const auto text = read_text(handle, *value_name);
        RegCloseKey(handle);
        return text.value_or(fallback);
    }

    void save(const std::string& app, const std::string& section, const std::string& key,
              const std::string& value) override {
        if (!write(app, section, key, value) && !warned_) {
            warned_ = true;
            std::fprintf(stderr,
                         "warning: cannot write the settings to HKEY_CURRENT_USER\\%s\\%s\\%s; "
                         "changes are not kept\n",
                         utf8_from_wide(settings_root).c_str(), app.c_str(), section.c_str());
        }
    }

private:
    static bool write(const std::string& app, const std::string& section, const std::string& key,
                      const std::string& value) {
        const auto path = key_path(app, section);
        const auto value_name = name(key);
        const std::wstring text = up_to_nul(wide_from(CP_UTF8, value));
        const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t); // with its NUL
        if (!path || !value_name || bytes > value_limit)
            return false;
        HKEY handle = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
            return false;
        const LONG result =
            RegSetValueExW(handle, value_name->c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(bytes));
        RegCloseKey(handle);
        return result == ERROR_SUCCESS;
    }

    bool warned_ = false; // the warning is given once per store
};

} // namespace

std::unique_ptr<SettingsStore> make_settings_store() {
    return std::make_unique<RegistryStore>();
}

} // namespace platform
