// Single non-blocking receives and sends, for loops that wait in poll() themselves. EINTR is
// retried; EAGAIN comes back as an error like any other. Stateless: any thread may call them.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <span>

#include "platform/sys_result.h"

namespace tenvar::platform {

// The bytes received (0: the peer has ended its sending) or the errno.
SysResult ReceiveSome(int fd, std::span<char> into);

// The bytes the socket took now. A peer that went away is an error (EPIPE), never a SIGPIPE.
SysResult SendSome(int fd, std::span<const char> bytes);

struct Datagram {
  SysResult Length;  // the datagram's whole length, also when `into` held only its start
  std::optional<in_addr> Source;  // nothing for a sender that is not IPv4
};

Datagram ReceiveDatagram(int fd, std::span<char> into);

// Sends one datagram to address:port; the bytes sent or the errno.
SysResult SendDatagram(int fd, std::span<const char> bytes, in_addr address, std::uint16_t port);

}  // namespace tenvar::platform
