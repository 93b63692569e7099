#include "platform/epoll.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <array>
#include <chrono>

namespace tenvar::platform {
namespace {

using namespace std::chrono_literals;

struct Pair {
  Pair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) == 0) {
      Near.Reset(fds[0]);
      Far.Reset(fds[1]);
    }
  }
  UniqueFd Near;
  UniqueFd Far;
};

TEST(EpollSet, ReportsTheKeyAndOnlyTheEventsAskedFor) {
  EpollSet set;
  Pair pair;
  ASSERT_TRUE(set.Valid());
  ASSERT_EQ(::send(pair.Far.Get(), "x", 1, 0), 1);  // Near is readable and writable
  ASSERT_EQ(set.Add(pair.Near.Get(), EPOLLIN, 42), 0);

  std::array<epoll_event, 4> ready{};
  ASSERT_EQ(set.Wait(ready, 1s), 1);
  EXPECT_EQ(ready[0].data.u64, 42u);
  EXPECT_EQ(ready[0].events, std::uint32_t{EPOLLIN});

  // Nothing asked for: a readable socket stays quiet, which is how a listener rests.
  ASSERT_EQ(set.Modify(pair.Near.Get(), 0, 42), 0);
  EXPECT_EQ(set.Wait(ready, 0ms), 0);
  ASSERT_EQ(set.Modify(pair.Near.Get(), EPOLLOUT, 7), 0);
  ASSERT_EQ(set.Wait(ready, 1s), 1);
  EXPECT_EQ(ready[0].data.u64, 7u);
  EXPECT_EQ(ready[0].events, std::uint32_t{EPOLLOUT});
}

TEST(EpollSet, ReportsErrorsAsValues) {
  EpollSet set;
  Pair pair;
  EXPECT_EQ(set.Modify(pair.Near.Get(), EPOLLIN, 1), ENOENT);
  EXPECT_EQ(set.Remove(pair.Near.Get()), ENOENT);
  ASSERT_EQ(set.Add(pair.Near.Get(), EPOLLIN, 1), 0);
  EXPECT_EQ(set.Add(pair.Near.Get(), EPOLLIN, 1), EEXIST);
  EXPECT_EQ(set.Remove(pair.Near.Get()), 0);
  EXPECT_EQ(set.Add(-1, EPOLLIN, 1), EBADF);
  std::array<epoll_event, 1> ready{};
  EXPECT_EQ(set.Wait(ready, 0ms), 0);
}

}  // namespace
}  // namespace tenvar::platform
