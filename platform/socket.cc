#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace tenvar::platform {
namespace {

sockaddr_in SocketAddress(in_addr address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_addr = address;
  result.sin_port = htons(port);
  return result;
}

bool BindAny(int fd, std::uint16_t port) {
  const sockaddr_in address = SocketAddress(in_addr{htonl(INADDR_ANY)}, port);
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool SetFlag(int fd, int option) {
  const int on = 1;
  return ::setsockopt(fd, SOL_SOCKET, option, &on, sizeof on) == 0;
}

std::optional<sockaddr_in> LocalEnd(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return std::nullopt;
  }
  return address;
}

}  // namespace

UniqueFd OpenTcpListener(std::uint16_t port, int& error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid() || !SetFlag(fd.Get(), SO_REUSEADDR) || !BindAny(fd.Get(), port) ||
      ::listen(fd.Get(), SOMAXCONN) != 0) {
    error = errno;
    return UniqueFd();
  }
  error = 0;
  return fd;
}

std::uint16_t LocalPort(int fd) {
  const std::optional<sockaddr_in> address = LocalEnd(fd);
  return address ? ntohs(address->sin_port) : 0;
}

std::optional<in_addr> LocalAddress(int fd) {
  const std::optional<sockaddr_in> address = LocalEnd(fd);
  if (!address) return std::nullopt;
  return address->sin_addr;
}

void ShutdownSending(int fd) { ::shutdown(fd, SHUT_WR); }

std::optional<AcceptedConnection> AcceptConnection(int listenFd, int* error) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  int fd = -1;
  do {
    fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &length,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (error != nullptr) *error = fd < 0 ? errno : 0;
  if (fd < 0) return std::nullopt;
  return AcceptedConnection{UniqueFd(fd), peer.sin_addr};
}

bool IsOutOfResources(int acceptError) {
  return acceptError == EMFILE || acceptError == ENFILE || acceptError == ENOBUFS ||
         acceptError == ENOMEM;
}

std::uint64_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur;
}

bool SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string FormatAddress(in_addr address) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

std::optional<in_addr> ParseIPv4(const std::string& text) {
  in_addr address{};
  if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
  return address;
}

Resolution ResolveIPv4(const std::string& host) {
  Resolution result;
  result.Address = ParseIPv4(host);
  if (result.Address) return result;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (code != 0) {
    result.Error = code;
    return result;
  }
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      result.Address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
      break;
    }
  }
  ::freeaddrinfo(list);
  if (!result.Address) result.Error = EAI_NONAME;
  return result;
}

UniqueFd StartConnect(in_addr address, std::uint16_t port, int& error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    error = errno;
    return UniqueFd();
  }
  const sockaddr_in target = SocketAddress(address, port);
  // An interrupted non-blocking connect carries on by itself, just like EINPROGRESS.
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
      errno != EINPROGRESS && errno != EINTR) {
    error = errno;
    return UniqueFd();
  }
  error = 0;
  return fd;
}

int PendingConnectError(int fd) {
  int result = 0;
  socklen_t length = sizeof result;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0) return errno;
  return result;
}

bool ConnectWithin(int fd, std::chrono::milliseconds timeout, int exitFd, int& error) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entries[2] = {{fd, POLLOUT, 0}, {exitFd, POLLIN, 0}};  // poll skips a negative fd
    const int ready = ::poll(entries, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    if (entries[1].revents != 0) {
      error = ECANCELED;
      return false;
    }
    if (entries[0].revents != 0) {
      error = PendingConnectError(fd);
      return error == 0;
    }
    if (ready == 0) {
      error = ETIMEDOUT;
      return false;
    }
  }
}

UniqueFd OpenUdpSocket(std::uint16_t port, bool broadcast, int& error) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid() || (broadcast && !SetFlag(fd.Get(), SO_BROADCAST)) || !BindAny(fd.Get(), port)) {
    error = errno;
    return UniqueFd();
  }
  error = 0;
  return fd;
}

std::optional<std::string> MachineName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
  return std::string(name);
}

}  // namespace tenvar::platform
