// The logs read back: the rows of every run whose file was written to in a span. A line that
// is not a whole row (the header, a line cut short by a power failure, a line some other
// program changed) is passed over.
#pragma once

#include "row.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace session_log {

using Rows = std::vector<std::pair<Stamp, Entry>>;
using Visit = std::function<void(const Stamp&, Entry&)>;

// The rows of one file's text, in file order.
void each_row(std::string_view text, const Visit& visit);
Rows parse_log(std::string_view text);
// The rows at or after `from` (seconds since 1970 UTC) in the files of `dir` but the one named
// `except`, file by file in the order the runs began, without holding them all at once.
void each_row_since(const std::string& dir, std::int64_t from, const std::string& except,
                    const Visit& visit);
Rows read_since(const std::string& dir, std::int64_t from, const std::string& except = {});

} // namespace session_log
