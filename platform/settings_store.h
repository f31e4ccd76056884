// The per-user settings: text values found by application, section and key. Kept apart from
// the rest of platform/ because it is built on Qt Core, which the serial layer does without.
#pragma once

#include <memory>
#include <string>

namespace platform {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or `fallback` when the key is missing or cannot be read as text.
    virtual std::string get(const std::string& app, const std::string& section,
                            const std::string& key, const std::string& fallback) = 0;
    // Stores the text at once. A store that cannot be written keeps what it held before and
    // says so once on standard error; the program goes on.
    virtual void save(const std::string& app, const std::string& section, const std::string& key,
                      const std::string& value) = 0;
};

// The user's own settings area: the registry under HKEY_CURRENT_USER\Software\VB and VBA
// Program Settings on Windows,
// $XDG_CONFIG_HOME/<app>/<app>.conf (by default ~/.config) elsewhere.
std::unique_ptr<SettingsStore> make_settings_store();

// An INI file at `path`, for tests and tools that must not touch the user's settings.
std::unique_ptr<SettingsStore> make_file_settings_store(const std::string& path);

} // namespace platform
