#include "platform/file_system.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

namespace tenvar::platform {

std::optional<struct stat> StatusOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return status;
}

std::optional<struct stat> LinkStatusOf(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
  return status;
}

std::optional<struct stat> StatusOf(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::nullopt;
  return status;
}

bool MayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool IsExecutableFile(const std::string& path) {
  const std::optional<struct stat> status = StatusOf(path);
  return status && S_ISREG(status->st_mode) && ::access(path.c_str(), X_OK) == 0;
}

UniqueFd CreateUniqueFile(std::string& pathTemplate) {
  return UniqueFd(::mkostemp(pathTemplate.data(), O_CLOEXEC));
}

bool SetMode(int fd, mode_t mode) { return ::fchmod(fd, mode) == 0; }

bool SetOwner(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group) == 0; }

bool SetLastWriteTime(int fd, const struct timespec& time) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, time};
  return ::futimens(fd, times) == 0;
}

bool SyncToDisk(int fd) { return ::fsync(fd) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace tenvar::platform
