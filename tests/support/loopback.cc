#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <random>

namespace tenvar::test {
namespace {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr = Loopback();
  return address;
}

// Reads until `size` bytes have come, the peer closes (or resets) or `timeout` has passed;
// `closed` says whether the peer ended it.
std::string ReadUpTo(int fd, std::size_t size, std::chrono::milliseconds timeout, bool* closed) {
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

}  // namespace

in_addr Loopback() { return in_addr{htonl(INADDR_LOOPBACK)}; }

platform::UniqueFd ConnectTo(int port, std::chrono::milliseconds timeout) {
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

platform::UniqueFd ListenOnLoopback(int port, int backlog) {
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

bool WaitReadable(int fd, std::chrono::milliseconds timeout, int stopFd) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd entries[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int ready = ::poll(entries, 2, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && entries[1].revents == 0 && entries[0].revents != 0;
  }
}

platform::UniqueFd AcceptWithin(int listener, std::chrono::milliseconds timeout, int stopFd) {
  if (!WaitReadable(listener, timeout, stopFd)) return platform::UniqueFd();
  return platform::UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

bool SendAll(int fd, std::string_view data, int stopFd) {
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

std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout, bool* closed) {
  return ReadUpTo(fd, std::string::npos, timeout, closed);
}

std::string ReadExactly(int fd, std::size_t size, std::chrono::milliseconds timeout) {
  return ReadUpTo(fd, size, timeout, nullptr);
}

bool SeesClose(int fd, std::chrono::milliseconds timeout) {
  if (!WaitReadable(fd, timeout)) return false;
  char byte = 0;
  const ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno == ECONNRESET);
}

std::string Exchange(int port, std::string_view request, std::chrono::milliseconds timeout) {
  const platform::UniqueFd fd = ConnectTo(port, timeout);
  if (!fd.Valid() || !SendAll(fd.Get(), request)) return "";
  return ReadUntilClosed(fd.Get(), timeout);
}

RawReply SplitReply(std::string_view reply) {
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

std::string RandomBytes(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xff);
  return bytes;
}

std::string Peer::Line() {
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

std::string Peer::ReadToEnd(bool* closed) {
  while (ReadMore()) {
  }
  if (closed != nullptr) *closed = closed_;
  return std::exchange(buffer_, std::string());
}

bool Peer::ReadMore() {
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

}  // namespace tenvar::test
