// The files the configuration names (the configuration itself, list files, block files),
// read whole but safely: never a FIFO or device, never more than a bound, and ParseBoolean
// for the grammar's switches. Safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_time.h"

namespace tenvar::config {

// "Yes", "On" or "1" in any case; every other text, the empty one included, is false.
bool ParseBoolean(std::string_view value);

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
