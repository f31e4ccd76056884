// The files a log is written to: a folder of the user's, a file that is only ever appended to
// and that other programs may read, rename or delete while it is open, and the wall clock with
// the local time zone's offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Where the logs go: $XDG_DATA_HOME/KORVANE_1/logs (by default ~/.local/share/KORVANE_1/logs);
// on Windows %LOCALAPPDATA%\KORVANE_1\logs.
std::string log_dir();

// Makes `dir` and its parents. Empty, or why not in the user's words ("not writable", ...).
std::string make_dirs(const std::string& dir);
bool file_exists(const std::string& path);
// The names (not paths) of the files in `dir` that end in `suffix`, in name order.
std::vector<std::string> files_in(const std::string& dir, std::string_view suffix);
// When the file was last written to, in seconds since 1970 UTC; 0 when it cannot be told.
std::int64_t modified_utc(const std::string& path);
// Shows `dir` in the system's file manager, without waiting for it.
void show_folder(const std::string& dir);
// The whole file; empty when it cannot be read.
std::string read_whole(const std::string& path);

class LogFile {
public:
    virtual ~LogFile() = default;
    // Appends bytes from the front of `bytes`: how many went to the system. When that is not
    // all, `why` says why in the user's words ("disk full", "not writable", ...).
    virtual std::size_t append(std::string_view bytes, std::string& why) = 0;
    // Puts what was appended on the disk. False when the system refused.
    virtual bool sync() = 0;
    // False once the file is no longer at its path: deleted, renamed, or its folder gone.
    virtual bool still_there() = 0;
    virtual std::uint64_t size() = 0;
};

// Opens `path` for appending, creating it when missing. Null, with `why`, when it cannot.
std::unique_ptr<LogFile> open_log_file(const std::string& path, std::string& why);

// Seconds since 1970 in UTC, and the local time zone's offset from UTC at that moment, in
// minutes east.
std::int64_t utc_now();
int utc_offset_minutes(std::int64_t utc);

} // namespace platform
