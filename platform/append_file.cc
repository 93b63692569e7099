#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/write_all.h"

namespace tenvar::platform {
namespace {

constexpr int kOpenFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
constexpr int kLockedAttempts = 5;
constexpr mode_t kLogMode = 0644;
// Whatever can make the path name another file than the one held open: unlinking or
// renaming over it (both change its link count, an attribute), moving it, or a change of
// its permissions after which a fresh open could fail.
constexpr std::uint32_t kReplacedEvents = IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT;
// Paths held open at once; the trace files and a log or two. A further one closes the
// oldest.
constexpr std::size_t kMaxOpenFiles = 8;

// The open files, kept between appends instead of opened for each one, which costs a path
// walk and a close per request. An inotify watch on each open file reports when its path
// may name another file; such a file is opened afresh at its next append. Without inotify
// every append opens the file, as it always did.
class OpenFiles {
 public:
  OpenFiles() : watcher_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {}

  std::shared_ptr<AppendFile> Get(const std::string& path, mode_t mode, bool narrowExisting) {
    if (!watcher_.Valid()) return OpenNow(path, mode, narrowExisting);
    ForgetReplaced();
    std::lock_guard lock(lock_);
    for (const Entry& entry : entries_) {
      if (entry.Path == path) return entry.File;
    }
    std::shared_ptr<AppendFile> file = OpenNow(path, mode, narrowExisting);
    if (!file) return nullptr;
    // The watch goes on the open file itself, not on whatever the path names by now.
    const std::string self = "/proc/self/fd/" + std::to_string(file->Fd());
    const int watch = ::inotify_add_watch(watcher_.Get(), self.c_str(), kReplacedEvents);
    if (watch < 0) return file;  // unwatched: used for this append only
    if (entries_.size() >= kMaxOpenFiles) Forget(entries_.front().Watch);
    entries_.push_back(Entry{path, file, watch});
    return file;
  }

 private:
  struct Entry {
    std::string Path;
    std::shared_ptr<AppendFile> File;
    int Watch = -1;
  };

  static std::shared_ptr<AppendFile> OpenNow(const std::string& path, mode_t mode,
                                             bool narrowExisting) {
    if (path.empty()) return nullptr;
    UniqueFd file(::open(path.c_str(), kOpenFlags, mode));
    if (!file.Valid()) return nullptr;
    if (narrowExisting) ::fchmod(file.Get(), mode);
    struct stat opened {};
    const bool known = ::fstat(file.Get(), &opened) == 0;
    return std::make_shared<AppendFile>(std::move(file),
                                        known ? static_cast<std::uint64_t>(opened.st_size) : 0);
  }

  // Called with lock_ held; appends still holding the file finish in it.
  void Forget(int watch) {
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
      if (entry->Watch != watch) continue;
      ::inotify_rm_watch(watcher_.Get(), watch);
      entries_.erase(entry);
      return;
    }
  }

  // Drops the files whose path may name another file by now. The events are read without
  // the lock, so appends to other files do not queue behind the read.
  void ForgetReplaced() {
    alignas(inotify_event) char events[4096];
    for (;;) {
      const ssize_t got = ::read(watcher_.Get(), events, sizeof events);
      if (got <= 0) return;
      std::lock_guard lock(lock_);
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        Forget(event->wd);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  UniqueFd watcher_;
  std::mutex lock_;  // guards entries_
  std::vector<Entry> entries_;
};

OpenFiles& Files() {
  static OpenFiles files;
  return files;
}

}  // namespace

std::optional<std::uint64_t> AppendFile::Append(std::string_view bytes) {
  const ssize_t written = ::write(file_.Get(), bytes.data(), bytes.size());
  if (written <= 0) return std::nullopt;
  const auto grown = static_cast<std::uint64_t>(written);
  return size_.fetch_add(grown) + grown;
}

AppendFile::Locked AppendFile::AppendLocked(std::string_view line) {
  std::lock_guard lock(lock_);
  if (::flock(file_.Get(), LOCK_EX | LOCK_NB) != 0) return Locked::Busy;
  const bool written = WriteAll(file_.Get(), line);
  ::flock(file_.Get(), LOCK_UN);
  return written ? Locked::Written : Locked::Failed;
}

std::shared_ptr<AppendFile> OpenForAppend(const std::string& path, mode_t mode,
                                          bool narrowExisting) {
  return Files().Get(path, mode, narrowExisting);
}

bool AppendLockedLine(const std::string& path, std::string_view line) {
  if (path.empty()) return false;
  for (int attempt = 0; attempt < kLockedAttempts; ++attempt) {
    const std::shared_ptr<AppendFile> file = OpenForAppend(path, kLogMode, false);
    if (!file) continue;
    // Another program holding the file exclusively counts as a failed attempt.
    const AppendFile::Locked outcome = file->AppendLocked(line);
    if (outcome != AppendFile::Locked::Busy) return outcome == AppendFile::Locked::Written;
  }
  return false;
}

}  // namespace tenvar::platform
