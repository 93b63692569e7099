#include "platform/send_file.h"

#include <poll.h>
#include <sys/sendfile.h>

#include <algorithm>
#include <cerrno>

#include "platform/wait.h"

namespace tenvar::platform {
namespace {

// One call moves at most this much, so that a large file cannot hold a call in the kernel.
constexpr std::uint64_t kMostPerCall = 1024 * 1024;

}  // namespace

FileSendResult SendFileWithin(int fd, int file, std::uint64_t offset, std::uint64_t length,
                              const ExitEvent& exitEvent, std::chrono::milliseconds stallLimit) {
  off_t position = static_cast<off_t>(offset);
  while (length > 0) {
    if (exitEvent.IsSignalled()) return FileSendResult::Exit;
    const ssize_t sent =
        ::sendfile(fd, file, &position, static_cast<std::size_t>(std::min(length, kMostPerCall)));
    if (sent > 0) {
      length -= static_cast<std::uint64_t>(sent);
      continue;
    }
    if (sent == 0) return FileSendResult::FileEnded;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return FileSendResult::Failed;
    switch (WaitFor(fd, POLLOUT, exitEvent, std::chrono::steady_clock::now() + stallLimit)) {
      case WaitResult::Ready:
        break;
      case WaitResult::TimedOut:
        return FileSendResult::Stalled;
      case WaitResult::Exit:
        return FileSendResult::Exit;
    }
  }
  return exitEvent.IsSignalled() ? FileSendResult::Exit : FileSendResult::Sent;
}

}  // namespace tenvar::platform
