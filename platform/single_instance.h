// One copy of the program per login session: the copy that holds the claim is the one copy; a
// later start in the same session finds the claim held, has that copy come to the front and
// ends. Two copies would fight over the serial port and store each other's port at close. A
// start in another session of the same user (another seat, a remote desktop) is a copy of its
// own: it could not show the other session's window.
//
// Whatever keeps the claim from being made (no folder for the lock, no lock, no mutex) leaves
// the program running as a copy of its own: this must never keep the program from starting.
// Only a copy that is seen to run (on Windows, its window) is handed over to then.
#pragma once

#include <string>

namespace platform {

class SingleInstance {
public:
    // Claims the one copy named `name` for this login session.
    // Linux: an flock on <dir>/<name>.<session>.lock, <dir> being $XDG_RUNTIME_DIR, or
    // config_dir() when that is not set to a folder; <session> is $XDG_SESSION_ID, else the
    // display ($DISPLAY, $WAYLAND_DISPLAY), made safe as a file name and hashed when long, and
    // left out with neither. The kernel lets go of the lock when the process ends, however it
    // ends. The one copy listens on the socket <dir>/<name>.<session>.socket, replacing any
    // socket that a killed copy left behind.
    // Windows: the mutex Local\<name>.<user name> in the session's namespace, owned by the
    // calling thread; Windows lets go of it when the process ends. A mutex that this copy may
    // not open (the one copy runs elevated) is a copy that runs.
    explicit SingleInstance(const std::string& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this copy holds the claim, or could not make it at all.
    bool first() const { return first_; }
    // Tries the claim again: the copy that held it may have ended meanwhile. Returns first().
    bool claim();

#ifdef _WIN32
    // True when this copy owns the mutex. first() without it means that no claim could be made
    // (no mutex, a wait that failed): only a look for a running copy's window can then tell
    // whether this copy is alone.
    bool holds_claim() const {
        return owned_;
    }
#else
    // A later copy asks the one copy to come to the front: a connection to its socket. Tried for
    // about a second while that copy has no socket yet (it is starting) or no more (it is
    // ending); should it end meanwhile, this copy takes the claim and first() turns true.
    // Returns whether the call reached the one copy.
    bool call_first();
    // The one copy: a descriptor that turns readable when a later copy has called, or -1 when
    // there is no socket.
    int calls_fd() const {
        return listener_;
    }
    // The one copy: takes the calls that are waiting; true when there was at least one.
    bool take_calls();
#endif

private:
    bool first_ = false;
#ifdef _WIN32
    std::wstring mutex_name_;
    void* mutex_ = nullptr;
    bool owned_ = false;
#else
    void listen();
    int lock_ = -1;
    int listener_ = -1;
    std::string socket_path_;
#endif
};

} // namespace platform
