// The logs read back: the rows of every run whose file was written to in a span, oldest
// first. A line that is not a whole row (the header, a line cut short by a power failure, a
// line some other program changed) is passed over.
#pragma once

#include "row.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace session_log {

using Rows = std::vector<std::pair<Stamp, Entry>>;

// The rows of one file's text.
Rows parse_log(std::string_view text);
// The rows at or after `from` (seconds since 1970 UTC) in the files of `dir` but the one named
// `except`, in time order.
Rows read_since(const std::string& dir, std::int64_t from, const std::string& except = {});

} // namespace session_log
