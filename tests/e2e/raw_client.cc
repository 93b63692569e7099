#include "tests/e2e/raw_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tenvar::e2e {
namespace {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

platform::UniqueFd ConnectTo(int port, std::chrono::milliseconds timeout) {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return fd;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout, bool* closed) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string received;
  if (closed != nullptr) *closed = false;
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return received;
    char block[65536];
    const ssize_t got = ::recv(fd, block, sizeof block, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      // A reset ends the exchange just as a close does.
      if (closed != nullptr) *closed = true;
      return received;
    }
    received.append(block, static_cast<size_t>(got));
  }
}

std::string Exchange(int port, std::string_view request, std::chrono::milliseconds timeout) {
  const platform::UniqueFd fd = ConnectTo(port, timeout);
  if (!fd.Valid() || !SendAll(fd.Get(), request)) return "";
  return ReadUntilClosed(fd.Get(), timeout);
}

RawReply SplitReply(std::string_view reply) {
  RawReply split;
  const size_t blank = reply.find("\r\n\r\n");
  if (blank == std::string_view::npos) {
    split.StatusLine = std::string(reply);
    return split;
  }
  const size_t lineEnd = reply.find("\r\n");
  split.StatusLine = std::string(reply.substr(0, lineEnd));
  split.Headers = std::string(reply.substr(lineEnd + 2, blank + 2 - (lineEnd + 2)));
  split.Body = std::string(reply.substr(blank + 4));
  return split;
}

}  // namespace tenvar::e2e
