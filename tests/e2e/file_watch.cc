#include "tests/e2e/file_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/temp_dir.h"
#include "platform/unique_fd.h"

namespace tenvar::e2e {
namespace {

bool FileHolds(const std::string& path, std::string_view text) {
  return platform::ReadFileText(path).find(text) != std::string::npos;
}

}  // namespace

bool WaitForFileText(const std::string& path, std::string_view text,
                     std::chrono::milliseconds timeout, pid_t writer) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  platform::UniqueFd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (!watch.Valid()) return false;
  // The directory is watched, not the file: the file may not exist yet.
  const std::string directory = std::filesystem::path(path).parent_path().string();
  if (::inotify_add_watch(watch.Get(), directory.c_str(),
                          IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
    return false;
  }
  platform::UniqueFd writerEnded(writer > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, writer, 0))
                                            : -1);

  // The watch is in place before each look, so no write can slip between look and wait.
  while (!FileHolds(path, text)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entries[2] = {{watch.Get(), POLLIN, 0}, {writerEnded.Get(), POLLIN, 0}};
    const int ready = ::poll(entries, writerEnded.Valid() ? 2 : 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && (entries[1].revents & POLLIN) != 0) return FileHolds(path, text);
    char events[4096];
    while (::read(watch.Get(), events, sizeof events) > 0) {
    }
  }
  return true;
}

}  // namespace tenvar::e2e
