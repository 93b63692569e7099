#include "platform/epoll.h"

#include <cerrno>

namespace tenvar::platform {
namespace {

int Control(int epollFd, int operation, int fd, std::uint32_t events, std::uint64_t tag) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = tag;
  return ::epoll_ctl(epollFd, operation, fd, &event) == 0 ? 0 : errno;
}

}  // namespace

Epoll::Epoll() : fd_(::epoll_create1(EPOLL_CLOEXEC)) {}

int Epoll::Add(int fd, std::uint32_t events, std::uint64_t tag) {
  return Control(fd_.Get(), EPOLL_CTL_ADD, fd, events, tag);
}

int Epoll::Modify(int fd, std::uint32_t events, std::uint64_t tag) {
  return Control(fd_.Get(), EPOLL_CTL_MOD, fd, events, tag);
}

void Epoll::Remove(int fd) { ::epoll_ctl(fd_.Get(), EPOLL_CTL_DEL, fd, nullptr); }

int Epoll::Wait(std::span<epoll_event> ready, int timeoutMs) {
  const int count =
      ::epoll_wait(fd_.Get(), ready.data(), static_cast<int>(ready.size()), timeoutMs);
  if (count < 0 && errno == EINTR) return 0;
  return count;
}

}  // namespace tenvar::platform
