// The command line of station-sim.
#pragma once

#include "sentence.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace station_sim {

struct Options {
    int port = 1;
    Format format = Format::hash;
    Reading reading; // the fixed values, or the centre of the drift
    bool drift = false;
    int delay_ms = 0;                      // from the poll byte to the reply
    bool crlf = false;                     // line end CR LF instead of CR
    std::optional<long long> answer_limit; // answers this many polls, then stays silent
    std::optional<long long> hangup_after; // hangs up once this many polls have been answered
    std::string replay;                    // the log to play back; empty: none
    double speed = 1;                      // of the playback
    bool quiet = false;
    bool help = false;
};

// A command line that cannot be used; what() is one line for the user.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads argv[1..argc-1]; throws UsageError. Options take their value as the next argument
// or after "=" ("--port 3", "--port=3"); a later option overrides an earlier one.
Options parse_options(int argc, const char* const* argv);

std::string usage();

} // namespace station_sim
