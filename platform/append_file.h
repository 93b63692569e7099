// Files appended to by any thread, kept open between appends, yet each append lands in the
// file its path names at that moment: a file that was removed, renamed or replaced is opened
// afresh, just as opening the path for every append would. Safe from any thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace tenvar::platform {

// One file held open for appending.
class AppendFile {
 public:
  AppendFile(UniqueFd file, std::uint64_t size) : file_(std::move(file)), size_(size) {}

  int Fd() const { return file_.Get(); }

  // Appends with one write(), so that concurrent appends never interleave inside one; the
  // file's size as this process has grown it, or nothing when no byte was written.
  std::optional<std::uint64_t> Append(std::string_view bytes);

  enum class Locked { Written, Failed, Busy };
  // Appends all of `line` while holding an exclusive flock() on the file; Busy when another
  // program holds it.
  Locked AppendLocked(std::string_view line);

 private:
  UniqueFd file_;
  // Serialises locked appends made through this descriptor, since flock() locks belong to the
  // open file and would not keep two of our own writers apart.
  std::mutex lock_;
  // The size as this process has grown it, so that a caller asks the file itself only once
  // it may be past a limit.
  std::atomic<std::uint64_t> size_;
};

// The open file `path` names, created with `mode` when missing; an existing file is given
// `mode` too when `narrowExisting`. Stays open while the caller holds it; null when it cannot
// be opened.
std::shared_ptr<AppendFile> OpenForAppend(const std::string& path, mode_t mode,
                                          bool narrowExisting);

// Appends `line` (created 0644 when missing) while holding an exclusive flock() on the file.
// A file that cannot be opened or that another program holds locked is tried five times at
// once, then the line is dropped: false. An empty path writes nothing and gives false.
bool AppendLockedLine(const std::string& path, std::string_view line);

}  // namespace tenvar::platform
