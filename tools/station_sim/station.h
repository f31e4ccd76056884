// The simulated station's pseudo-terminal and its COM<n> link in the user's port map.
#pragma once

#include "options.h"
#include "replay.h"

#include <cstddef>
#include <string>

namespace station_sim {

// An open file descriptor, closed when the object goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

class PtyStation {
public:
    // Makes a pseudo-terminal, opens its program end (the slave) raw and links it as
    // COM<port> in the port map. Throws std::runtime_error, with a message for the user, when
    // no pty can be made or a live COM<port> link is there already.
    explicit PtyStation(int port);
    ~PtyStation() { hang_up(); }
    PtyStation(const PtyStation&) = delete;
    PtyStation& operator=(const PtyStation&) = delete;

    // The station's end: poll bytes come out of it, replies go into it. Non-blocking.
    int master() const { return master_.get(); }
    const std::string& device() const { return device_; }
    // Bytes written to the master that the program has not read yet.
    std::size_t unread() const;
    // Removes the link, if it still points at this pty, and closes both ends: the program's
    // open port sees a hang-up.
    void hang_up();

private:
    UniqueFd master_;
    // Held for the station's whole life: the program closes and reopens the port (port
    // detection does), and a pty whose last slave descriptor closes hangs up.
    UniqueFd slave_;
    std::string device_; // "/dev/pts/3"
    std::string link_;   // empty until the link is made
};

// Serves polls on a PtyStation until SIGINT or SIGTERM, or until --hangup-after is reached;
// with the readings of `replay` when there is one, else with those the options describe.
// Returns the exit status; throws std::runtime_error when the station cannot start.
int serve(const Options& options, const Replay* replay = nullptr);

} // namespace station_sim
