// station-sim: a weather sensor station on a pseudo-terminal, for a demonstration without
// hardware and a check of the program before a track day. See README.md.
#include "options.h"
#include "station.h"

#include <cstdio>
#include <exception>
#include <optional>

int main(int argc, char** argv) {
    using namespace station_sim;
    Options options;
    try {
        options = parse_options(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "station-sim: %s (see station-sim --help)\n", e.what());
        return 2;
    }
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    std::optional<Replay> replay;
    try {
        if (!options.replay.empty())
            replay = read_replay(options.replay, options.speed);
    } catch (const ReplayError& e) {
        std::fprintf(stderr, "station-sim: %s\n", e.what());
        return 2;
    }
    try {
        return serve(options, replay ? &*replay : nullptr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "station-sim: %s\n", e.what());
        return 1;
    }
}
