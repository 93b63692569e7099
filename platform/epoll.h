// An epoll set: one wait over many descriptors whose cost does not grow with the number of
// idle ones. Each registration carries a tag that comes back with its events. Thin: no
// policy; failures come back as errno values. Used by one thread.
#pragma once

#include <sys/epoll.h>

#include <cstdint>
#include <span>

#include "platform/unique_fd.h"

namespace tenvar::platform {

class Epoll {
 public:
  Epoll();
  bool Valid() const { return fd_.Valid(); }

  // 0 on success, else the errno.
  int Add(int fd, std::uint32_t events, std::uint64_t tag);
  int Modify(int fd, std::uint32_t events, std::uint64_t tag);
  void Remove(int fd);

  // Waits at most `timeoutMs` (-1: no limit) and fills `ready` from the front; the number
  // filled, 0 on time-out or an interrupted wait, -1 with errno on failure.
  int Wait(std::span<epoll_event> ready, int timeoutMs);

 private:
  UniqueFd fd_;
};

}  // namespace tenvar::platform
