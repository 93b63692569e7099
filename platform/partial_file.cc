#include "platform/partial_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tenvar::platform {

std::optional<PartialFile> PartialFile::Create(const std::string& finalPath) {
  std::string temporaryPath = finalPath + ".partial-XXXXXX";
  UniqueFd file(::mkostemp(temporaryPath.data(), O_CLOEXEC));
  if (!file.Valid()) return std::nullopt;
  ::fchmod(file.Get(), 0644);
  return PartialFile(finalPath, std::move(temporaryPath), std::move(file));
}

PartialFile::PartialFile(std::string finalPath, std::string temporaryPath, UniqueFd file)
    : finalPath_(std::move(finalPath)),
      temporaryPath_(std::move(temporaryPath)),
      file_(std::move(file)) {}

PartialFile::PartialFile(PartialFile&& other) noexcept
    : finalPath_(std::move(other.finalPath_)),
      temporaryPath_(std::exchange(other.temporaryPath_, std::string())),
      file_(std::move(other.file_)) {}

PartialFile::~PartialFile() {
  if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
}

bool PartialFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(file_.Get(), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool PartialFile::SetLastWriteTime(FileTime time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = time / 1'000'000'000;
  times[1].tv_nsec = time % 1'000'000'000;
  return ::futimens(file_.Get(), times) == 0;
}

bool PartialFile::Commit() {
  if (::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) return false;
  temporaryPath_.clear();
  return true;
}

}  // namespace tenvar::platform
