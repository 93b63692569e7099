// Plain text rules every folder shares: blanks, ASCII case, lines and atoi-like numbers.
// Case-insensitive comparisons fold ASCII letters only, so bytes of multibyte characters
// compare as they stand and can never be split. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tenvar::platform {

// Blanks trimmed by every line and value rule: space, tab, CR, LF, vertical tab, form feed.
inline constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);

// Reads a number the way atoi does (leading blanks, a sign, digits up to the first
// non-digit, 0 without digits), saturating instead of overflowing.
std::int32_t ParseNumber(std::string_view value);

// Splits file contents into lines at LF, dropping a CR before it.
std::vector<std::string> SplitLines(std::string_view contents);

}  // namespace tenvar::platform
