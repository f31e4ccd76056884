// Settings kept in memory by key alone, out of the system's own store.
#pragma once

#include "settings_store.h"

#include <map>
#include <string>

namespace test_support {

class MemoryStore : public platform::SettingsStore {
public:
    std::string get(const std::string&, const std::string&, const std::string& key,
                    const std::string& fallback) override {
        const auto it = values.find(key);
        return it == values.end() ? fallback : it->second;
    }
    void save(const std::string&, const std::string&, const std::string& key,
              const std::string& value) override {
        values[key] = value;
    }
    std::map<std::string, std::string> values;
};

} // namespace test_support
