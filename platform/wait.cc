#include "platform/wait.h"

#include <algorithm>
#include <cerrno>
#include <climits>

namespace tenvar::platform {
namespace {

// The poll() entries, the exit event's (fd -1 when there is none) second.
WaitResult Wait(pollfd (&entries)[2], Deadline deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    // A far deadline (kNoDeadline) is waited for in turns of poll()'s longest timeout.
    const int timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
    const int ready = ::poll(entries, 2, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || entries[1].revents != 0) return WaitResult::Exit;
    if (ready > 0) return WaitResult::Ready;
    if (left.count() <= 0) return WaitResult::TimedOut;
  }
}

}  // namespace

WaitResult WaitFor(int fd, short events, const ExitEvent& exitEvent, Deadline deadline) {
  pollfd entries[2] = {{fd, events, 0}, {exitEvent.Fd(), POLLIN, 0}};
  return Wait(entries, deadline);
}

WaitResult WaitFor(int fd, short events, Deadline deadline) {
  pollfd entries[2] = {{fd, events, 0}, {-1, 0, 0}};
  return Wait(entries, deadline);
}

SysResult Poll(std::span<pollfd> entries, int timeoutMs) {
  const int ready = ::poll(entries.data(), entries.size(), timeoutMs);
  if (ready < 0) return {0, errno};
  return {ready, 0};
}

}  // namespace tenvar::platform
