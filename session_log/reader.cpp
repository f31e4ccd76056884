#include "reader.h"

#include "log_file.h"

namespace session_log {

void each_row(std::string_view text, const Visit& visit) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos)
            break; // the last line has no end: it was being written when the power went
        if (auto row = parse_row(text.substr(at, end - at)))
            visit(row->first, row->second);
        at = end + 2;
    }
}

Rows parse_log(std::string_view text) {
    Rows rows;
    each_row(text, [&](const Stamp& s, Entry& e) { rows.emplace_back(s, std::move(e)); });
    return rows;
}

void each_row_since(const std::string& dir, std::int64_t from, const std::string& except,
                    const Visit& visit) {
    for (const std::string& name : platform::files_in(dir, ".csv")) {
        const std::string path = dir + "/" + name;
        if (name == except || platform::modified_utc(path) < from)
            continue;
        each_row(platform::read_whole(path), [&](const Stamp& s, Entry& e) {
            if (s.utc >= from)
                visit(s, e);
        });
    }
}

Rows read_since(const std::string& dir, std::int64_t from, const std::string& except) {
    Rows rows;
    each_row_since(dir, from, except,
                   [&](const Stamp& s, Entry& e) { rows.emplace_back(s, std::move(e)); });
    return rows;
}

} // namespace session_log
