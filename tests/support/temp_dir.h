// A folder of its own for a test, removed with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace test_support {

class TempDir {
public:
    TempDir() {
        namespace fs = std::filesystem;
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path p =
                fs::temp_directory_path() / ("nimbrel-test-" + std::to_string(random()));
            if (fs::create_directory(p)) {
                path_ = p.string();
                return;
            }
        }
        throw std::runtime_error("cannot make a temporary folder");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace test_support
