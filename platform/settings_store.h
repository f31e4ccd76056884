// The per-user settings: text values found by application, section and key.
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

// The user's own settings: on Windows the registry under HKEY_CURRENT_USER\Software\VB and VBA
// Program Settings\<app>\<section>; elsewhere the file $XDG_CONFIG_HOME/<app>/<app>.conf, or
// ~/.config/<app>/<app>.conf when XDG_CONFIG_HOME is unset, empty or not an absolute path.
std::unique_ptr<SettingsStore> make_settings_store();

// An INI file at `path`, for tests and tools that must not touch the user's settings. Not
// built for Windows.
std::unique_ptr<SettingsStore> make_file_settings_store(const std::string& path);

} // namespace platform
