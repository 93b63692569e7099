// Last-write times of files, compared for equality to notice that a file changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tenvar::platform {

// Nanoseconds since the epoch of a file's last write; 0 means "never read".
using FileTime = std::int64_t;

// The last-write time of an existing file (directories and other types too), or nothing
// when it cannot be examined. An empty path never names a file.
std::optional<FileTime> LastWriteTime(const std::string& path);

// The time a file was created: its birth time where the file system keeps one, else the
// time of its last status change.
std::optional<FileTime> CreationTime(const std::string& path);

// Sets a file's last-write time; used where a stored item must carry another time.
bool SetLastWriteTime(const std::string& path, FileTime time);

}  // namespace tenvar::platform
