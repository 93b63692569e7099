// Socket scaffolding the tests share: connections on 127.0.0.1, sending and reading with
// bounded waits, and a line-reading peer. Every wait ends by a time limit, so a faulty
// program fails a test instead of hanging it. Stateless functions, safe from any thread; a
// Peer belongs to one thread.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "platform/unique_fd.h"

namespace tenvar::test {

inline constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(10);

inline in_addr Loopback() { return in_addr{htonl(INADDR_LOOPBACK)}; }

inline int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

inline sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr = Loopback();
  return address;
}

// Reads exactly `size` bytes unless the peer closes (or resets) or `timeout` passes first;
// `closed` says whether the peer ended it.
inline std::string ReadExactly(int fd, std::size_t size,
                               std::chrono::milliseconds timeout = kPatience,
                               bool* closed = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string received;
  if (closed != nullptr) *closed = false;
  while (received.size() < size) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char block[65536];
    const ssize_t got =
        ::recv(fd, block, std::min(sizeof block, size - received.size()), MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      if (closed != nullptr) *closed = true;
      break;
    }
    received.append(block, static_cast<std::size_t>(got));
  }
  return received;
}

// A connected, blocking socket to 127.0.0.1:`port`; invalid when refused or too slow.
inline platform::UniqueFd ConnectTo(int port, std::chrono::milliseconds timeout = kPatience) {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return fd;
  const sockaddr_in address = LoopbackAddress(port);
  // Non-blocking, so a full listen queue costs at most `timeout`, not the kernel's retries.
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) return platform::UniqueFd();
    pollfd entry{fd.Get(), POLLOUT, 0};
    if (::poll(&entry, 1, static_cast<int>(timeout.count())) != 1) return platform::UniqueFd();
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      return platform::UniqueFd();
    }
  }
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// A listener bound to 127.0.0.1 alone (0 = any free port), which other loopback addresses
// such as 127.0.0.3 do not reach.
inline platform::UniqueFd ListenOnLoopback(int port = 0, int backlog = 16) {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int yes = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const sockaddr_in address = LoopbackAddress(port);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.Get(), backlog) != 0) {
    return platform::UniqueFd();
  }
  return fd;
}

// True once `fd` is readable; false after `timeout` or once `stopFd` (-1: none) is.
inline bool WaitReadable(int fd, std::chrono::milliseconds timeout = kPatience, int stopFd = -1) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd entries[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int ready = ::poll(entries, 2, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && entries[1].revents == 0 && entries[0].revents != 0;
  }
}

// The next connection on `listener`, blocking; invalid after `timeout` or at `stopFd`.
inline platform::UniqueFd AcceptWithin(int listener, std::chrono::milliseconds timeout = kPatience,
                                       int stopFd = -1) {
  if (!WaitReadable(listener, timeout, stopFd)) return platform::UniqueFd();
  return platform::UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

// Sends every byte; a full window of a non-blocking socket is waited out within limits, or
// until `stopFd` (-1: none) is readable.
inline bool SendAll(int fd, std::string_view data, int stopFd = -1) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno == EAGAIN) {
      pollfd entries[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
      if (::poll(entries, 2, static_cast<int>(kPatience.count())) <= 0 || entries[1].revents != 0) {
        return false;
      }
      continue;
    }
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// Reads until the peer closes or `timeout` has passed; `closed` says which it was. A reset
// ends the exchange just as a close does.
inline std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout,
                                   bool* closed = nullptr) {
  return ReadExactly(fd, std::string::npos, timeout, closed);
}

// True when the next thing the peer sends is its end: a close, or a reset because it left
// bytes unread. A byte of data, or silence until `timeout`, is false.
inline bool SeesClose(int fd, std::chrono::milliseconds timeout = kPatience) {
  if (!WaitReadable(fd, timeout)) return false;
  char byte = 0;
  const ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno == ECONNRESET);
}

// Connects, sends `request` and reads the answer to the end; empty when it could not connect.
inline std::string Exchange(int port, std::string_view request,
                            std::chrono::milliseconds timeout = kPatience) {
  const platform::UniqueFd fd = ConnectTo(port, timeout);
  if (!fd.Valid() || !SendAll(fd.Get(), request)) return "";
  return ReadUntilClosed(fd.Get(), timeout);
}

// An HTTP answer cut at its blank line: the status line, the header lines (each ending in
// "\r\n") and the body. Everything lands in StatusLine when there is no blank line.
struct RawReply {
  std::string StatusLine;
  std::string Headers;
  std::string Body;
};
inline RawReply SplitReply(std::string_view reply) {
  RawReply split;
  const std::size_t blank = reply.find("\r\n\r\n");
  if (blank == std::string_view::npos) {
    split.StatusLine = std::string(reply);
    return split;
  }
  const std::size_t lineEnd = reply.find("\r\n");
  split.StatusLine = std::string(reply.substr(0, lineEnd));
  split.Headers = std::string(reply.substr(lineEnd + 2, blank + 2 - (lineEnd + 2)));
  split.Body = std::string(reply.substr(blank + 4));
  return split;
}

// Bytes that differ from one seed to the next, so a reordered or repeated block shows.
inline std::string RandomBytes(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xff);
  return bytes;
}

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
  std::string Line() {
    for (;;) {
      const std::size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end + 2);
        buffer_.erase(0, end + 2);
        return line;
      }
      if (!ReadMore()) return "";
    }
  }
  // Everything until the peer closes; `closed` tells whether it did within the limit.
  std::string ReadToEnd(bool* closed = nullptr) {
    while (ReadMore()) {
    }
    if (closed != nullptr) *closed = closed_;
    return std::exchange(buffer_, std::string());
  }
  bool Closed() {
    bool closed = false;
    ReadToEnd(&closed);
    return closed;
  }

 private:
  bool ReadMore() {
    if (!WaitReadable(socket_.Get(), kPatience, stopFd_)) return false;
    char block[16384];
    const ssize_t got = ::recv(socket_.Get(), block, sizeof block, MSG_DONTWAIT);
    if (got <= 0) {
      closed_ = got == 0 || errno != EAGAIN;
      return false;
    }
    buffer_.append(block, static_cast<std::size_t>(got));
    return true;
  }

  platform::UniqueFd socket_;
  int stopFd_;
  std::string buffer_;
  bool closed_ = false;
};

}  // namespace tenvar::test
