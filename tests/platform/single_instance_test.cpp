// One copy per login session: where the claim lives, what a later copy sees, and that no failure to
// make the claim keeps a copy from starting. Two objects in one process stand for two copies: each
// opens the lock file for itself, and flock keeps apart two opens as it keeps apart two
// processes.
#include "env_var.h"
#include "single_instance.h"
#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using test_support::EnvVar;

// Copies in a session that nothing tells apart, unless a test says otherwise.
class SingleInstanceTest : public ::testing::Test {
protected:
    static std::unique_ptr<platform::SingleInstance> claim_in(std::optional<std::string> id,
                                                              std::optional<std::string> display) {
        const EnvVar id_var("XDG_SESSION_ID", id), display_var("DISPLAY", display);
        return std::make_unique<platform::SingleInstance>("nimbrel");
    }
    const EnvVar id_{"XDG_SESSION_ID", {}}, display_{"DISPLAY", {}},
        wayland_{"WAYLAND_DISPLAY", {}};
};

TEST_F(SingleInstanceTest, ALaterCopyFindsTheClaimAndCallsTheFirstWhereverTheClaimLives) {
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

TEST_F(SingleInstanceTest, EachLoginSessionOfTheUserHasACopyOfItsOwn) {
    const std::string long_id(300, 'x');
    const struct {
        const char* what;
        std::optional<std::string> id, display, other_id, other_display;
        bool other_first;
    } cases[] = {
        {"two session ids", "3", ":0", "c7", ":0", true},
        {"one session id on two displays", "3", ":0", "3", ":1", false},
        {"no session id, two displays", {}, ":0", {}, ":1", true},
        {"a session id with slashes", "../x/y", {}, "../x/y", {}, false},
        {"a session id too long for a socket's name", long_id, {}, long_id, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::TempDir dir;
        const EnvVar runtime_var("XDG_RUNTIME_DIR", dir.path());
        const auto one = claim_in(c.id, c.display);
        const auto other = claim_in(c.other_id, c.other_display);
        EXPECT_TRUE(one->first());
        EXPECT_EQ(other->first(), c.other_first);
        EXPECT_EQ(other->call_first(), !c.other_first); // the copy of its own session is called
    }
}

TEST_F(SingleInstanceTest, ACopyThatEndsLetsTheNextOneTakeTheClaimAndItsSocket) {
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
