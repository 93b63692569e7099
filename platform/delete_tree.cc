#include "platform/delete_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace tenvar::platform {
namespace {

// Entries can only be removed from a folder its owner may write and search.
void MakeWritable(int folder) {
  struct stat status {};
  if (::fstat(folder, &status) == 0 && (status.st_mode & S_IRWXU) != S_IRWXU) {
    ::fchmod(folder, (status.st_mode & 07777) | S_IRWXU);
  }
}

std::vector<std::string> EntriesOf(int folder) {
  std::vector<std::string> names;
  // The stream owns a duplicate, so `folder` stays usable for the *at calls.
  const int streamFd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (streamFd < 0) return names;
  ::lseek(streamFd, 0, SEEK_SET);
  std::unique_ptr<DIR, int (*)(DIR*)> stream(::fdopendir(streamFd), ::closedir);
  if (!stream) {
    UniqueFd owner(streamFd);
    return names;
  }
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

void DeleteContents(int folder) {
  MakeWritable(folder);
  // Names are collected first: removing entries while reading the folder may skip some.
  for (const std::string& name : EntriesOf(folder)) {
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(status.st_mode)) {
      // O_NOFOLLOW: should the entry have become a link since, it is not entered.
      UniqueFd inner(
          ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!inner.Valid()) {
        // A folder without read permission cannot be opened until it is given some. The
        // permission is changed through a handle on the folder itself, never through its
        // name, which could meanwhile be a link to somewhere else.
        UniqueFd handle(
            ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (handle.Valid()) {
          const std::string self = "/proc/self/fd/" + std::to_string(handle.Get());
          ::chmod(self.c_str(), (status.st_mode & 07777) | S_IRWXU);
          inner = UniqueFd(::openat(handle.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        }
      }
      if (inner.Valid()) DeleteContents(inner.Get());
      ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(folder, name.c_str(), 0);
    }
  }
}

}  // namespace

void DeleteTree(const std::string& folder) {
  if (folder.empty()) return;
  UniqueFd top(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!top.Valid()) return;
  DeleteContents(top.Get());
  ::rmdir(folder.c_str());  // fails, as it should, when `folder` is a link
}

}  // namespace tenvar::platform
