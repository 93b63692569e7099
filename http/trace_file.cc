#include "http/trace_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/unique_fd.h"
#include "platform/write_all.h"

namespace tenvar::http {
namespace {

constexpr int kOpenFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
constexpr int kLockedAttempts = 5;
constexpr mode_t kPrivateMode = 0600;
constexpr mode_t kLogMode = 0644;
// Whatever can make the path name another file than the one held open: unlinking or
// renaming over it (both change its link count, an attribute), moving it, or a change of
// its permissions after which a fresh open could fail.
constexpr std::uint32_t kReplacedEvents = IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT;
// Paths held open at once; the trace files and a log or two. A further one closes the
// oldest.
constexpr std::size_t kMaxOpenFiles = 8;

// One open file; Lock serialises locked appends made through this descriptor, since flock()
// locks belong to the open file and would not keep two of our own writers apart.
struct OpenFile {
  explicit OpenFile(int fd) : File(fd) {}
  platform::UniqueFd File;
  std::mutex Lock;
  // The file's size as this process has grown it, so that an append asks the file itself
  // only once it may be past its limit.
  std::atomic<std::uint64_t> Size{0};
};

// The open files, kept between appends instead of opened for each one, which costs a path
// walk and a close per request. An inotify watch on each open file reports when its path
// may name another file; such a file is opened afresh at its next append. Without inotify
// every append opens the file, as it always did.
class OpenFiles {
 public:
  OpenFiles() : watcher_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {}

  // The file to append to, which stays open while the caller holds it; null when the file
  // cannot be opened.
  std::shared_ptr<OpenFile> Get(const std::string& path, mode_t mode) {
    if (!watcher_.Valid()) return OpenNow(path, mode);
    ForgetReplaced();
    std::lock_guard lock(lock_);
    for (const Entry& entry : entries_) {
      if (entry.Path == path) return entry.File;
    }
    std::shared_ptr<OpenFile> file = OpenNow(path, mode);
    if (!file) return nullptr;
    // The watch goes on the open file itself, not on whatever the path names by now.
    const std::string self = "/proc/self/fd/" + std::to_string(file->File.Get());
    const int watch = ::inotify_add_watch(watcher_.Get(), self.c_str(), kReplacedEvents);
    if (watch < 0) return file;  // unwatched: used for this append only
    if (entries_.size() >= kMaxOpenFiles) Forget(entries_.front().Watch);
    entries_.push_back(Entry{path, file, watch});
    return file;
  }

 private:
  struct Entry {
    std::string Path;
    std::shared_ptr<OpenFile> File;
    int Watch = -1;
  };

  static std::shared_ptr<OpenFile> OpenNow(const std::string& path, mode_t mode) {
    if (path.empty()) return nullptr;
    auto file = std::make_shared<OpenFile>(::open(path.c_str(), kOpenFlags, mode));
    if (!file->File.Valid()) return nullptr;
    // A file made before with wider permissions is narrowed too; a log keeps its own.
    if (mode == kPrivateMode) ::fchmod(file->File.Get(), mode);
    struct stat opened {};
    if (::fstat(file->File.Get(), &opened) == 0)
      file->Size = static_cast<std::uint64_t>(opened.st_size);
    return file;
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

  platform::UniqueFd watcher_;
  std::mutex lock_;  // guards entries_
  std::vector<Entry> entries_;
};

OpenFiles& Files() {
  static OpenFiles files;
  return files;
}

// Renames a trace file that has grown past its limit out of the way; the watch on it then
// makes the next append start a new file.
void RollOver(const std::string& path, const OpenFile& file, std::uint64_t rollBytes) {
  struct stat held {};
  if (::fstat(file.File.Get(), &held) != 0 ||
      static_cast<std::uint64_t>(held.st_size) <= rollBytes) {
    return;
  }
  // Several sessions may see the same full file: only one may rename it, and only while the
  // path still names it, or the previous generation would be overwritten by a new file.
  static std::mutex rollLock;
  std::lock_guard lock(rollLock);
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
      named.st_dev != held.st_dev) {
    return;
  }
  ::rename(path.c_str(), (path + ".1").c_str());
}

}  // namespace

void AppendTrace(const char* path, std::string_view bytes, std::uint64_t rollBytes) {
  const std::shared_ptr<OpenFile> file = Files().Get(path, kPrivateMode);
  if (!file) return;
  const ssize_t written = ::write(file->File.Get(), bytes.data(), bytes.size());
  if (written <= 0) return;
  const auto grown = static_cast<std::uint64_t>(written);
  if (file->Size.fetch_add(grown) + grown > rollBytes) RollOver(path, *file, rollBytes);
}

bool AppendLockedLine(const std::string& path, std::string_view line) {
  if (path.empty()) return false;
  for (int attempt = 0; attempt < kLockedAttempts; ++attempt) {
    const std::shared_ptr<OpenFile> file = Files().Get(path, kLogMode);
    if (!file) continue;
    std::lock_guard lock(file->Lock);
    // Another program holding the file exclusively counts as a failed attempt.
    if (::flock(file->File.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    const bool written = platform::WriteAll(file->File.Get(), line);
    ::flock(file->File.Get(), LOCK_UN);
    return written;
  }
  return false;
}

}  // namespace tenvar::http
