#include "platform/exit_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/wait.h"

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
  return platform::WaitFor(fd_.Get(), POLLIN, std::chrono::steady_clock::now() + timeout) ==
         WaitResult::Ready;
}

void ExitEvent::Wait() const {
  // A failed poll() is tried again: nothing may leave before the event.
  while (platform::WaitFor(fd_.Get(), POLLIN, kNoDeadline) != WaitResult::Ready) continue;
}

}  // namespace tenvar::platform
