// The log of one run of the program: a CSV file in the user's log folder named by the local
// time the run began. Each row goes to the system as it is added, so that a crash loses none;
// the file goes to the disk at least once a minute and at the end. While the system refuses
// (disk full, folder removed, file taken away) the rows wait in memory, in order, and are
// written as soon as it takes them again; the writer says meanwhile why it is held up.
#pragma once

#include "log_file.h"
#include "row.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace session_log {

// The wall clock and the time zone: the system's, or a test's.
struct Clock {
    std::function<std::int64_t()> now = platform::utc_now;
    std::function<int(std::int64_t)> offset_at = platform::utc_offset_minutes;
};

// A file name for a run that began at `stamp`: "2026-12-10_091400.csv".
std::string file_name(const Stamp& stamp);

class Writer {
public:
    // Rows kept while the system refuses them: a week at one row per two seconds.
    static constexpr std::size_t max_waiting = 7 * 43200;
    static constexpr std::int64_t sync_every = 60; // seconds

    Writer(std::string dir, Clock clock = {});
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // A row stamped now (never before the row before it).
    void add(const Entry& entry);
    // Once a tick: rows that waited are tried again, and the file goes to the disk when a
    // minute has passed since it last did.
    void tick();
    // The last rows are written, and the file goes to the disk.
    void close();

    // Why rows wait ("disk full", ...); empty while every row has been written.
    const std::string& held_up() const { return why_; }
    std::size_t waiting() const { return waiting_.size(); }
    // The name and the path of this run's file, once its name has been chosen.
    const std::string& name() const { return name_; }
    std::string path() const { return name_.empty() ? std::string() : dir_ + "/" + name_; }

private:
    Stamp stamp();
    bool open();
    bool header_first() const;
    void write_waiting();

    std::string dir_;
    Clock clock_;
    std::int64_t began_;
    std::string name_;
    std::unique_ptr<platform::LogFile> file_;
    std::deque<std::string> waiting_;
    std::size_t front_written_ = 0; // bytes of the first waiting row that the file has
    std::int64_t last_utc_ = INT64_MIN;
    std::int64_t synced_at_ = 0;
    bool unsynced_ = false;
    std::string why_;
};

} // namespace session_log
