// A run of the program played back: the readings of one of its logs, each held from the time it
// was logged until the next, and silence where the log shows that the station was not heard.
#pragma once

#include "sentence.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace station_sim {

// A log that cannot be played back; what() is one line for the user.
struct ReplayError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The program logs a reading every two seconds while the station answers. A longer stretch
// without one means that nothing was heard (or logged) then.
inline constexpr double longest_pause = 10; // seconds

struct Recorded {
    double at = 0;    // seconds after the log's first reading
    double until = 0; // the reading stands until then; silence from there to the next one
    Reading reading;
    std::string time; // local, as logged: "2026-06-14 07:12:00"
};

class Replay {
public:
    // The readings of a log's text (CRLF or LF line ends), played `speed` times as fast as
    // they were logged. Event rows, lines that are not a whole row and rows stamped before the
    // reading before them are passed over. Throws ReplayError when no reading is left.
    explicit Replay(std::string_view log_text, double speed = 1);

    struct Moment {
        const Recorded* last; // the last reading logged at or before the moment
        bool silent;          // the station was not heard then
        bool ended;           // past the last reading, which then stands for good
    };
    // The moment that the playback has reached `elapsed` seconds after it began.
    Moment at(double elapsed) const;

    const std::vector<Recorded>& readings() const { return readings_; }
    double speed() const { return speed_; }

private:
    std::vector<Recorded> readings_;
    double speed_;
};

// The log in the file at `path`; throws ReplayError, naming the file, when it cannot be read
// or holds no reading.
Replay read_replay(const std::string& path, double speed);

} // namespace station_sim
