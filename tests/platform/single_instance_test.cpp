// One copy per user: where the claim lives, what a later copy sees, and that no failure to make
// the claim keeps a copy from starting. Two objects in one process stand for two copies: each
// opens the lock file for itself, and flock keeps apart two opens as it keeps apart two
// processes.
#include "env_var.h"
#include "single_instance.h"
#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using test_support::EnvVar;

TEST(SingleInstance, ALaterCopyFindsTheClaimAndCallsTheFirstWhereverTheClaimLives) {
    struct Case {
        const char* what;
        std::optional<std::string> runtime_dir; // under the test's folder unless relative
        bool relative;
        std::string config_home;
        std::string claim_dir; // where the lock and the socket must be; empty: nowhere
    };
    const Case cases[] = {
        {"the runtime folder", "run", false, "config", "run"},
        {"no runtime folder: the config folder", std::nullopt, false, "config", "config/KORVANE_1"},
        {"a runtime folder that is a file: the config folder", "file", false, "config",
         "config/KORVANE_1"},
        {"a relative runtime folder: the config folder", "run", true, "config", "config/KORVANE_1"},
        {"no folder can be made: each copy runs alone", std::nullopt, false, "file/config", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::TempDir dir;
        const fs::path top = dir.path();
        fs::create_directory(top / "run");
        std::ofstream(top / "file") << "not a folder";
        auto runtime = c.runtime_dir;
        if (runtime && !c.relative)
            runtime = (top / *runtime).string();
        const EnvVar runtime_var("XDG_RUNTIME_DIR", runtime);
        const EnvVar config_var("XDG_CONFIG_HOME", (top / c.config_home).string());

        platform::SingleInstance first("nimbrel");
        platform::SingleInstance later("nimbrel");
        EXPECT_TRUE(first.first());
        if (c.claim_dir.empty()) {
            EXPECT_TRUE(later.first());
            EXPECT_EQ(first.calls_fd(), -1);
            continue;
        }
        EXPECT_TRUE(fs::exists(top / c.claim_dir / "nimbrel.lock"));
        EXPECT_TRUE(fs::is_socket(top / c.claim_dir / "nimbrel.socket"));
        EXPECT_FALSE(later.first());
        EXPECT_FALSE(first.take_calls());
        EXPECT_TRUE(later.call_first());
        EXPECT_TRUE(first.take_calls());
        EXPECT_FALSE(first.take_calls()); // each call is taken once
    }
}

TEST(SingleInstance, ACopyThatEndsLetsTheNextOneTakeTheClaimAndItsSocket) {
    test_support::TempDir dir;
    const EnvVar runtime_var("XDG_RUNTIME_DIR", dir.path());
    auto first = std::make_unique<platform::SingleInstance>("nimbrel");
    platform::SingleInstance later("nimbrel");
    ASSERT_FALSE(later.first());
    // Ended between the later copy's look at the lock and its call: the later copy goes on as
    // the one copy instead of ending with nothing shown.
    first.reset();
    EXPECT_FALSE(later.call_first());
    EXPECT_TRUE(later.first());
    platform::SingleInstance third("nimbrel");
    EXPECT_FALSE(third.first());
    EXPECT_TRUE(third.call_first());
    EXPECT_TRUE(later.take_calls());
}
