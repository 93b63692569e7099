// Thin wrappers over the calls that examine, create, change and remove files by name or
// descriptor. Each is one system call; a failure leaves its errno for the caller.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace tenvar::platform {

// stat(), lstat() (a link itself, not its target) and fstat(); nothing when they fail.
std::optional<struct stat> StatusOf(const std::string& path);
std::optional<struct stat> LinkStatusOf(const std::string& path);
std::optional<struct stat> StatusOf(int fd);

// Whether this process may write the file (access(W_OK)); a regular file it may execute.
bool MayWrite(const std::string& path);
bool IsExecutableFile(const std::string& path);

// Creates a new file from `pathTemplate`, whose last six letters "XXXXXX" are replaced by
// the name chosen; owner-only permissions, close-on-exec.
UniqueFd CreateUniqueFile(std::string& pathTemplate);

bool SetMode(int fd, mode_t mode);
bool SetOwner(int fd, uid_t owner, gid_t group);
// Sets the last-write time and leaves the access time alone.
bool SetLastWriteTime(int fd, const struct timespec& time);
// Returns once the file's data and status are on the disk.
bool SyncToDisk(int fd);

bool RenameFile(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

}  // namespace tenvar::platform
