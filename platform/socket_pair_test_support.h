// A connected local stream pair for the platform tests, non-blocking at both ends.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include "platform/unique_fd.h"

namespace tenvar::platform {

struct SocketPair {
  UniqueFd Sender;
  UniqueFd Receiver;
};

// The window is small so that a send of a few MiB has to wait for the reader many times.
inline SocketPair SmallWindowPair() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  const int size = 4096;
  ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

}  // namespace tenvar::platform
