// The port list: the user's map and the machine's real serial devices, in port number order.
#include "posix_ports.h"
#include "pty_pair.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// A tty as the kernel lists it: a device node and its /sys/class/tty entry.
void add_tty(const platform::PosixPaths& paths, const std::string& name, bool has_device,
             const char* type = nullptr, const char* console = nullptr) {
    std::ofstream(paths.dev + "/" + name).put('\n');
    const std::string sys = paths.sys_class_tty + "/" + name;
    fs::create_directories(sys);
    if (has_device)
        fs::create_directories(sys + "/device");
    if (type)
        std::ofstream(sys + "/type") << type << "\n";
    if (console)
        std::ofstream(sys + "/console") << console << "\n";
}

} // namespace

TEST(PortList, ListsMappedAndRealPortsInNumberOrder) {
    test_support::TempDir dir;
    const auto paths = test_support::isolated_paths(dir);
    test_support::PtyPair a, b;
    const std::string a_name = platform::device_name(a.slave_path());
    const std::string b_name = platform::device_name(b.slave_path());
    ASSERT_EQ(a_name.rfind("pts/", 0), 0u);

    add_tty(paths, "ttyS0", true, "4");      // a real UART
    add_tty(paths, "ttyS1", true, "0");      // a slot with no UART
    add_tty(paths, "ttyS2", true, "4", "Y"); // the kernel's console
    add_tty(paths, "ttyS3", false);          // no device behind it
    add_tty(paths, "ttyUSB0", true);         // hidden by the map's COM33
    add_tty(paths, "ttyUSB1", true);
    add_tty(paths, "ttyACM31", true);
    add_tty(paths, "ttyACM32", true); // beyond the fixed rule

    test_support::link_port(paths.port_map, 33, a.slave_path());
    test_support::link_port(paths.port_map, 120, b.slave_path());
    test_support::link_port(paths.port_map, 7, "/nowhere"); // dangling: not listed
    std::ofstream(dir.path() + "/file") << "x";
    test_support::link_port(paths.port_map, 8, dir.path() + "/file"); // no device: not listed
    fs::create_symlink(a.slave_path(), paths.port_map + "/COM012");
    fs::create_symlink(a.slave_path(), paths.port_map + "/com5");
    fs::create_symlink(a.slave_path(), paths.port_map + "/COM1000");
    fs::create_symlink(a.slave_path(), paths.port_map + "/COM0");
    std::ofstream(paths.port_map + "/notes.txt") << "x";

    const auto ports = platform::make_posix_port_lister(paths)->list();
    const std::vector<std::string> want = {"COM1 (ttyS0)", "COM33 (" + a_name + ")",
                                           "COM34 (ttyUSB1)", "COM96 (ttyACM31)",
                                           "COM120 (" + b_name + ")"};
    EXPECT_EQ(ports, want);
}

TEST(PortList, AMachineWithoutPortsListsNothing) {
    test_support::TempDir dir;
    auto paths = test_support::isolated_paths(dir);
    paths.port_map = dir.path() + "/no-such-folder";
    EXPECT_TRUE(platform::make_posix_port_lister(paths)->list().empty());
}

TEST(PortList, ConfigFolderFollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    const char* old_home = std::getenv("HOME");
    const std::string saved_home = old_home ? old_home : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg-test", 1);
    EXPECT_EQ(platform::port_map_dir(), "/tmp/cfg-test/KORVANE_1/ports");
    setenv("XDG_CONFIG_HOME", "relative/path", 1); // not absolute: ignored
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(platform::port_map_dir(), "/home/someone/.config/KORVANE_1/ports");
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", saved_home.c_str(), 1);
}
