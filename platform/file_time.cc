#include "platform/file_time.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace tenvar::platform {
namespace {

FileTime FromTimespec(const struct timespec& ts) {
  return static_cast<FileTime>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

std::optional<FileTime> LastWriteTime(const std::string& path) {
  if (path.empty()) return std::nullopt;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FromTimespec(st.st_mtim);
}

std::optional<FileTime> CreationTime(const std::string& path) {
  if (path.empty()) return std::nullopt;
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_CTIME, &sx) != 0) return std::nullopt;
  const struct statx_timestamp& stamp = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  return static_cast<FileTime>(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
}

bool SetLastWriteTime(const std::string& path, FileTime time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = time / 1'000'000'000;
  times[1].tv_nsec = time % 1'000'000'000;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace tenvar::platform
