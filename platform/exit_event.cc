#include "platform/exit_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace tenvar::platform {

ExitEvent::ExitEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!fd_.Valid()) {
    std::perror("eventfd");
    std::abort();
  }
}

void ExitEvent::Signal() const {
  signalled_.store(true);
  const std::uint64_t one = 1;
  // Only write(): this runs inside signal handlers.
  [[maybe_unused]] ssize_t written = ::write(fd_.Get(), &one, sizeof one);
}

bool ExitEvent::IsSignalled() const { return signalled_.load(std::memory_order_relaxed); }

bool ExitEvent::WaitFor(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd entry{fd_.Get(), POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int result = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (result > 0) return true;
    if (result == 0) return false;
    if (errno != EINTR) return false;
  }
}

void ExitEvent::Wait() const {
  for (;;) {
    pollfd entry{fd_.Get(), POLLIN, 0};
    if (::poll(&entry, 1, -1) > 0) return;
  }
}

}  // namespace tenvar::platform
