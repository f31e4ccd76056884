#include "writer.h"

#include <algorithm>
#include <climits>

namespace session_log {

std::string file_name(const Stamp& stamp) {
    std::string name = time_local(stamp); // "2026-12-10 09:14:00"
    name.erase(std::remove(name.begin(), name.end(), ':'), name.end());
    std::replace(name.begin(), name.end(), ' ', '_');
    return name + ".csv";
}

Writer::Writer(std::string dir, Clock clock)
    : dir_(std::move(dir)), clock_(std::move(clock)), began_(clock_.now()) {
    synced_at_ = began_;
}

Writer::~Writer() {
    close();
}

Stamp Writer::stamp() {
    // A clock set back never takes the file's times back: rows of one moment share it.
    last_utc_ = std::max(last_utc_, clock_.now());
    return {last_utc_, clock_.offset_at(last_utc_)};
}

void Writer::add(const Entry& entry) {
    if (waiting_.size() >= max_waiting) {
        // The oldest row that has waited a week gives way; a header or a row half written stays.
        const bool keep_front = front_written_ > 0 || header_first();
        waiting_.erase(waiting_.begin() + (keep_front ? 1 : 0));
    }
    waiting_.push_back(csv_line(stamp(), entry));
    write_waiting();
}

void Writer::tick() {
    write_waiting();
    if (file_ && unsynced_ && clock_.now() - synced_at_ >= sync_every) {
        unsynced_ = !file_->sync();
        synced_at_ = clock_.now();
    }
}

void Writer::close() {
    write_waiting();
    if (file_ && unsynced_)
        file_->sync();
    unsynced_ = false;
    file_.reset();
}

// The run's file, named on first use by the moment the run began (with "-2", "-3" ... when a
// file of that name is there), and opened again at its path when it has been taken away.
bool Writer::open() {
    if (file_ && file_->still_there())
        return true;
    if (file_) {
        file_.reset();
        why_ = "file taken away";
        front_written_ = 0; // the rows it held are gone with it
    }
    if (const std::string why = platform::make_dirs(dir_); !why.empty()) {
        why_ = why;
        return false;
    }
    if (name_.empty()) {
        const std::string base = file_name({began_, clock_.offset_at(began_)});
        name_ = base;
        for (int n = 2; platform::file_exists(path()); ++n)
            name_ = base.substr(0, base.size() - 4) + "-" + std::to_string(n) + ".csv";
    }
    std::string why;
    file_ = platform::open_log_file(path(), why);
    if (!file_) {
        why_ = why;
        return false;
    }
    // A new file, the first of the run or one in the place of a file taken away, starts with
    // the header.
    if (file_->size() == 0 && !header_first()) {
        waiting_.push_front(std::string(header) + "\r\n");
        front_written_ = 0;
    }
    return true;
}

bool Writer::header_first() const {
    return !waiting_.empty() && waiting_.front().rfind(header, 0) == 0;
}

void Writer::write_waiting() {
    if (waiting_.empty() || !open())
        return;
    while (!waiting_.empty()) {
        const std::string& row = waiting_.front();
        std::string why;
        front_written_ += file_->append(std::string_view(row).substr(front_written_), why);
        unsynced_ = true;
        if (front_written_ < row.size()) {
            why_ = why;
            return;
        }
        waiting_.pop_front();
        front_written_ = 0;
    }
    why_.clear();
}

} // namespace session_log
