// The main window tests run with a throwaway home, so that nothing reads or writes the
// settings of whoever runs them.
#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    test_support::TempDir home;
    const std::string config = home.path() + "/config";
    std::filesystem::create_directories(config);
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
