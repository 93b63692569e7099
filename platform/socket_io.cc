#include "platform/socket_io.h"

#include <sys/socket.h>

#include <cerrno>

namespace tenvar::platform {
namespace {

SysResult Outcome(ssize_t result) {
  if (result < 0) return {0, errno};
  return {static_cast<long>(result), 0};
}

}  // namespace

SysResult ReceiveSome(int fd, std::span<char> into) {
  for (;;) {
    const ssize_t got = ::recv(fd, into.data(), into.size(), MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    return Outcome(got);
  }
}

SysResult SendSome(int fd, std::span<const char> bytes) {
  for (;;) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno == EINTR) continue;
    return Outcome(sent);
  }
}

Datagram ReceiveDatagram(int fd, std::span<char> into) {
  sockaddr_in source{};
  socklen_t sourceLength = sizeof source;
  for (;;) {
    // MSG_TRUNC: the datagram's real length, even when it did not fit.
    const ssize_t length = ::recvfrom(fd, into.data(), into.size(), MSG_TRUNC | MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (length < 0 && errno == EINTR) continue;
    Datagram datagram{Outcome(length), std::nullopt};
    if (length >= 0 && source.sin_family == AF_INET) datagram.Source = source.sin_addr;
    return datagram;
  }
}

SysResult SendDatagram(int fd, std::span<const char> bytes, in_addr address, std::uint16_t port) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_addr = address;
  destination.sin_port = htons(port);
  for (;;) {
    const ssize_t sent =
        ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    if (sent < 0 && errno == EINTR) continue;
    return Outcome(sent);
  }
}

}  // namespace tenvar::platform
