// One epoll set: descriptors are registered once and their wanted events changed as a
// serving loop's needs change, so a wait costs nothing per idle descriptor and has no limit
// on how many it watches. Level-triggered. Owned and used by one thread.
#pragma once

#include <sys/epoll.h>

#include <chrono>
#include <cstdint>
#include <span>

#include "platform/unique_fd.h"

namespace tenvar::platform {

class EpollSet {
 public:
  EpollSet();  // Valid() tells whether the set could be made

  bool Valid() const { return fd_.Valid(); }

  // Each returns 0 or the errno of epoll_ctl(). `key` comes back with the descriptor's
  // events. Error and hang-up are always reported, whatever `events` says.
  int Add(int fd, std::uint32_t events, std::uint64_t key);
  int Modify(int fd, std::uint32_t events, std::uint64_t key);
  int Remove(int fd);

  // Waits for at most `timeout` (negative: without limit); the number of entries filled,
  // or minus the errno. An interrupted wait counts as one that found nothing.
  int Wait(std::span<epoll_event> ready, std::chrono::milliseconds timeout);

 private:
  UniqueFd fd_;
};

}  // namespace tenvar::platform
