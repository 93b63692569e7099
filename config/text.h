// Small text rules shared by the configuration grammar, the list files and the block rules.
// Case-insensitive comparisons fold ASCII letters only, so bytes of multibyte characters
// compare as they stand and can never be split.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_time.h"

namespace tenvar::config {

// Blanks trimmed by every line and value rule: space, tab, CR, LF, vertical tab, form feed.
inline constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);

// "Yes", "On" or "1" in any case; every other text, the empty one included, is false.
bool ParseBoolean(std::string_view value);

// Reads a number the way atoi does (leading blanks, a sign, digits up to the first
// non-digit, 0 without digits), saturating instead of overflowing.
std::int32_t ParseNumber(std::string_view value);

// Splits file contents into lines at LF, dropping a CR before it.
std::vector<std::string> SplitLines(std::string_view contents);

// The largest configuration, list or block file that is read. A list this size is already
// far beyond any office's use; the limit keeps a mistyped path (/dev/zero, a disk image)
// from exhausting memory.
inline constexpr std::int64_t kMaxSettingsFileBytes = 16 * 1024 * 1024;

enum class SettingsFileOutcome {
  Read,        // Contents and Time hold the file
  Missing,     // cannot be opened: no such file, no access, empty path
  Refused,     // not a regular file, or larger than kMaxSettingsFileBytes
  ReadFailed,  // opened but reading failed
};

struct SettingsFile {
  SettingsFileOutcome Outcome = SettingsFileOutcome::Missing;
  std::string Contents;
  platform::FileTime Time = 0;  // last-write time of what was opened, 0 when Missing
};

// Reads a configuration, list or block file. The open never blocks (a FIFO named by mistake
// would otherwise hang the session and the shut-down), and the type and size are checked on
// the opened descriptor, so the file cannot be swapped between the check and the read.
SettingsFile ReadSettingsFile(const std::string& path);

// The one event-log line for a refused file.
std::string RefusedFileMessage(const std::string& path);

}  // namespace tenvar::config
