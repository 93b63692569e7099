// HTTP date stamps: writing the preferred RFC 1123 form and reading the three forms servers
// and browsers still send. Names are fixed English tables, so the process locale never
// matters. Pure functions; safe from any thread.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tenvar::http {

// "Sun, 06 Nov 1994 08:49:37 GMT" for the given UTC time.
std::string FormatHttpDate(std::time_t utc);

// Reads RFC 1123 ("Sun, 06 Nov 1994 08:49:37 GMT"), RFC 850 ("Sunday, 06-Nov-94 08:49:37
// GMT") and asctime ("Sun Nov  6 08:49:37 1994") dates. Surrounding blanks are ignored; the
// day name is not checked against the date. Nothing for anything else, impossible dates
// and values longer than 127 characters.
std::optional<std::time_t> ParseHttpDate(std::string_view text);

}  // namespace tenvar::http
