#include "platform/epoll.h"

#include <cerrno>

namespace tenvar::platform {
namespace {

int Control(int epollFd, int operation, int fd, std::uint32_t events, std::uint64_t key) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = key;
  return ::epoll_ctl(epollFd, operation, fd, &event) == 0 ? 0 : errno;
}

}  // namespace

EpollSet::EpollSet() : fd_(::epoll_create1(EPOLL_CLOEXEC)) {}

int EpollSet::Add(int fd, std::uint32_t events, std::uint64_t key) {
  return Control(fd_.Get(), EPOLL_CTL_ADD, fd, events, key);
}

int EpollSet::Modify(int fd, std::uint32_t events, std::uint64_t key) {
  return Control(fd_.Get(), EPOLL_CTL_MOD, fd, events, key);
}

int EpollSet::Remove(int fd) { return Control(fd_.Get(), EPOLL_CTL_DEL, fd, 0, 0); }

int EpollSet::Wait(std::span<epoll_event> ready, std::chrono::milliseconds timeout) {
  const int got = ::epoll_wait(fd_.Get(), ready.data(), static_cast<int>(ready.size()),
                               timeout.count() < 0 ? -1 : static_cast<int>(timeout.count()));
  if (got >= 0) return got;
  // An interrupted wait is reported as one that found nothing: the caller's loop goes round
  // and works out its timeout again.
  return errno == EINTR ? 0 : -errno;
}

}  // namespace tenvar::platform
