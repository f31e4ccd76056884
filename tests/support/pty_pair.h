// Pseudo-terminals and temporary folders for tests that talk to a real tty.
#pragma once

#include "posix_ports.h"
#include "temp_dir.h"

#include <string>
#include <string_view>

namespace test_support {

// Paths inside `dir` for a serial port under test: its own port map, lock folder, and empty
// /sys/class/tty and /dev, so that no real device of the machine is touched.
platform::PosixPaths isolated_paths(const TempDir& dir);

// Makes `port_map`/COM<n> a link to `target`, creating the folder.
void link_port(const std::string& port_map, int n, const std::string& target);

// The lock file that the serial port takes for the device at `device_path`.
std::string lock_file(const platform::PosixPaths& paths, const std::string& device_path);

// The line settings of the terminal `fd` as one text, to compare and to show: every flag word,
// both speeds and the control characters.
std::string line_settings(int fd);

// The station's end of a pseudo-terminal. The program under test opens the other end through
// the port map. The station also keeps that end open itself, raw, so that the program may
// close and reopen it without the pty hanging up.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }
    // The station's own descriptor of the program's end, to fill its queues from the outside.
    int slave() const { return slave_; }

    // Sends bytes as the station.
    void write(std::string_view bytes);
    // What the program has sent, waiting up to `wait_ms` for the first byte.
    std::string read_available(int wait_ms);
    // Closes the station's ends: the program's end sees a hang-up.
    void hang_up();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

} // namespace test_support
