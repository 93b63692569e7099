// The CSV request log: one line per browser request, telling who asked for which URL and
// when, and which watched keyword it matched. Building a line is pure; writing one holds the
// shared log lock, so lines from any number of sessions never interleave.
#pragma once

#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "http/session_context.h"

namespace tenvar::http {

// "keyword","dd/mm/yyyy","hh:mm:ss","machine","address","user","url" and a newline, date and
// time in local time. An unregistered client shows as "Unknown" at clientAddress; an empty
// keyword stays an empty column. Double quotes inside values are doubled.
std::string RequestLogLine(std::time_t now, std::string_view keyword,
                           const std::optional<LanClientNames>& client,
                           std::string_view clientAddress, std::string_view url);

// Appends `line` to the file at `path` (created when missing) while holding `logLock`.
// A file that cannot be opened in five immediate attempts just misses the line; an empty
// path writes nothing.
void WriteRequestLog(const std::string& path, std::mutex& logLock, std::string_view line);

}  // namespace tenvar::http
