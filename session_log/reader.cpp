#include "reader.h"

#include "log_file.h"

#include <algorithm>

namespace session_log {

Rows parse_log(std::string_view text) {
    Rows rows;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos)
            break; // the last line has no end: it was being written when the power went
        if (auto row = parse_row(text.substr(at, end - at)))
            rows.push_back(std::move(*row));
        at = end + 2;
    }
    return rows;
}

Rows read_since(const std::string& dir, std::int64_t from, const std::string& except) {
    Rows rows;
    for (const std::string& name : platform::files_in(dir, ".csv")) {
        const std::string path = dir + "/" + name;
        if (name == except || platform::modified_utc(path) < from)
            continue;
        for (auto& row : parse_log(platform::read_whole(path)))
            if (row.first.utc >= from)
                rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.first.utc < b.first.utc; });
    return rows;
}

} // namespace session_log
