#include "platform/wake_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace tenvar::platform {

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeEvent::Wake() const {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(fd_.Get(), &one, sizeof one);
}

void WakeEvent::Clear() const {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t drained = ::read(fd_.Get(), &count, sizeof count);
}

}  // namespace tenvar::platform
