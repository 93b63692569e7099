#include "platform/wait.h"

#include <poll.h>

#include <cerrno>

namespace tenvar::platform {

WaitResult WaitFor(int fd, short events, const ExitEvent& exitEvent, Deadline deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entries[2] = {{fd, events, 0}, {exitEvent.Fd(), POLLIN, 0}};
    const int ready = ::poll(entries, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || entries[1].revents != 0) return WaitResult::Exit;
    if (ready > 0) return WaitResult::Ready;
    if (left.count() <= 0) return WaitResult::TimedOut;
  }
}

}  // namespace tenvar::platform
