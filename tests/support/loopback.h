// Socket scaffolding the tests share: connections on 127.0.0.1, sending and reading with
// bounded waits, and a line-reading peer. Every wait ends by a time limit, so a faulty
// program fails a test instead of hanging it. Stateless functions, safe from any thread; a
// Peer belongs to one thread.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace tenvar::test {

inline constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(10);

in_addr Loopback();

// A connected, blocking socket to 127.0.0.1:`port`; invalid when refused or too slow.
platform::UniqueFd ConnectTo(int port, std::chrono::milliseconds timeout = kPatience);

// A listener bound to 127.0.0.1 alone (0 = any free port), which other loopback addresses
// such as 127.0.0.3 do not reach.
platform::UniqueFd ListenOnLoopback(int port = 0, int backlog = 16);

// True once `fd` is readable; false after `timeout` or once `stopFd` (-1: none) is.
bool WaitReadable(int fd, std::chrono::milliseconds timeout = kPatience, int stopFd = -1);

// The next connection on `listener`, blocking; invalid after `timeout` or at `stopFd`.
platform::UniqueFd AcceptWithin(int listener, std::chrono::milliseconds timeout = kPatience,
                                int stopFd = -1);

// Sends every byte; a full window of a non-blocking socket is waited out within limits, or
// until `stopFd` (-1: none) is readable.
bool SendAll(int fd, std::string_view data, int stopFd = -1);

// Reads until the peer closes or `timeout` has passed; `closed` says which it was. A reset
// ends the exchange just as a close does.
std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout, bool* closed = nullptr);

// Reads exactly `size` bytes unless the peer closes or `timeout` passes first.
std::string ReadExactly(int fd, std::size_t size, std::chrono::milliseconds timeout = kPatience);

// True when the next thing the peer sends is its end: a close, or a reset because it left
// bytes unread. A byte of data, or silence until `timeout`, is false.
bool SeesClose(int fd, std::chrono::milliseconds timeout = kPatience);

// Connects, sends `request` and reads the answer to the end; empty when it could not connect.
std::string Exchange(int port, std::string_view request,
                     std::chrono::milliseconds timeout = kPatience);

// An HTTP answer cut at its blank line: the status line, the header lines (each ending in
// "\r\n") and the body. Everything lands in StatusLine when there is no blank line.
struct RawReply {
  std::string StatusLine;
  std::string Headers;
  std::string Body;
};
RawReply SplitReply(std::string_view reply);

// Bytes that differ from one seed to the next, so a reordered or repeated block shows.
std::string RandomBytes(std::size_t size, std::uint64_t seed);

// A connection read line by line or to its end; every wait gives up after the patience or
// once `stopFd` is readable.
class Peer {
 public:
  explicit Peer(platform::UniqueFd socket, int stopFd = -1)
      : socket_(std::move(socket)), stopFd_(stopFd) {}
  static Peer ConnectTo(int port) { return Peer(test::ConnectTo(port)); }

  bool Valid() const { return socket_.Valid(); }
  int Fd() const { return socket_.Get(); }
  bool Send(std::string_view text) const { return SendAll(socket_.Get(), text, stopFd_); }

  // The next line, "\r\n" included; empty when the peer closed or went silent.
  std::string Line();
  // Everything until the peer closes; `closed` tells whether it did within the limit.
  std::string ReadToEnd(bool* closed = nullptr);
  bool Closed() {
    bool closed = false;
    ReadToEnd(&closed);
    return closed;
  }

 private:
  bool ReadMore();

  platform::UniqueFd socket_;
  int stopFd_;
  std::string buffer_;
  bool closed_ = false;
};

}  // namespace tenvar::test
