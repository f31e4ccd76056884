// A port that exists but that the user may not open (on Linux: not in the group that owns the
// device) is listed like any other and fails to open like one that is missing or held.
#include "posix_ports.h"
#include "pty_pair.h"

#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Exit codes of the child that looks at the port as a user without rights to it.
constexpr int listed_but_refused = 0;
constexpr int not_listed = 1;
constexpr int opened = 2;
constexpr int cannot_drop_rights = 3;

int look_at_port_7(const platform::PosixPaths& paths) {
    const auto names = platform::make_posix_port_lister(paths)->list();
    if (names.empty() || names.front().rfind("COM7 ", 0) != 0)
        return not_listed;
    auto port = platform::make_posix_serial_port(paths);
    const auto h = port->open(7);
    if (platform::is_open_handle(h))
        return opened;
    port->write_byte(h, 'D'); // and the handle it gave is a dead one, as for any failed open
    return port->read_byte(h) ? opened : listed_but_refused;
}

} // namespace

TEST(PortAccess, APortTheUserMayNotOpenIsListedAndFailsLikeAnyOther) {
    test_support::TempDir dir;
    const auto paths = test_support::isolated_paths(dir);
    test_support::PtyPair pty;
    test_support::link_port(paths.port_map, 7, pty.slave_path());

    int result = -1;
    if (geteuid() == 0) {
        // Root may open anything: look as a user outside the device's owner and group.
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        ASSERT_EQ(chmod(pty.slave_path().c_str(), 0660), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(cannot_drop_rights);
            _exit(look_at_port_7(paths));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        result = WEXITSTATUS(status);
    } else {
        // The device is ours: take our own rights away for a moment.
        struct stat before {};
        ASSERT_EQ(stat(pty.slave_path().c_str(), &before), 0);
        ASSERT_EQ(chmod(pty.slave_path().c_str(), 0), 0);
        result = look_at_port_7(paths);
        chmod(pty.slave_path().c_str(), before.st_mode & 07777);
    }
    EXPECT_EQ(result, listed_but_refused);

    // Whoever may open it still can.
    auto port = platform::make_posix_serial_port(paths);
    const auto h = port->open(7);
    EXPECT_TRUE(platform::is_open_handle(h));
    port->close(h);
}
