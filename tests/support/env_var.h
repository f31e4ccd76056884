// An environment variable set, or unset, for the life of the object.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace test_support {

class EnvVar {
public:
    // `value` empty (std::nullopt): the variable is unset.
    EnvVar(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace test_support
