// Thin wrappers over the IPv4 socket calls the services make: no policy of their own, and
// every failure comes back as a value (an errno or a getaddrinfo code). Stateless, so any
// thread may call them; a descriptor is only used by one thread at a time.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace tenvar::platform {

// A non-blocking TCP listener on INADDR_ANY:port (0 = any free port) with SO_REUSEADDR.
// An invalid descriptor and the errno in `error` on failure; `error` is 0 on success.
UniqueFd OpenTcpListener(std::uint16_t port, int& error);

// The local port a socket is bound to, in host order; 0 when it cannot be told.
std::uint16_t LocalPort(int fd);
// The address a connected socket has on this machine: the one its peer sees.
std::optional<in_addr> LocalAddress(int fd);

// Tells the peer that nothing more will be sent; receiving goes on.
void ShutdownSending(int fd);

struct AcceptedConnection {
  UniqueFd Fd;  // non-blocking, close-on-exec
  in_addr Peer{};
};

// Takes one pending connection; nothing when none is waiting or accept4() fails, with its
// errno in `error` when asked for (EAGAIN when none was waiting).
std::optional<AcceptedConnection> AcceptConnection(int listenFd, int* error = nullptr);

// Whether an accept failed for lack of descriptors or memory: the connection stays queued,
// so accepting again at once would fail again.
bool IsOutOfResources(int acceptError);

// Raises the soft limit on open descriptors to the hard limit; the new soft limit.
std::uint64_t RaiseDescriptorLimit();

bool SetNonBlocking(int fd);

// "a.b.c.d" from the address bytes in network order.
std::string FormatAddress(in_addr address);

// The address of a dotted IPv4 text, without any lookup; nothing for anything else.
std::optional<in_addr> ParseIPv4(const std::string& text);

struct Resolution {
  std::optional<in_addr> Address;
  int Error = 0;  // the getaddrinfo() code when there is no address
};

// A dotted IPv4 text is taken as it is; any other name is looked up (IPv4 only) and the
// first address returned wins. Blocks for as long as the resolver takes.
Resolution ResolveIPv4(const std::string& host);

// Starts a non-blocking connect. A connect still in progress counts as started: its end
// shows as POLLOUT, after which PendingConnectError() tells how it ended.
UniqueFd StartConnect(in_addr address, std::uint16_t port, int& error);

// The outcome of a finished non-blocking connect: 0 when connected, else its errno.
int PendingConnectError(int fd);

// Waits for a started connect to finish, for at most `timeout`, or until `exitFd` (-1 for
// none) is readable. True when connected; otherwise `error` is the connect's errno,
// ETIMEDOUT when the time ran out or ECANCELED when the exit event came first.
bool ConnectWithin(int fd, std::chrono::milliseconds timeout, int exitFd, int& error);

// A non-blocking UDP socket bound to INADDR_ANY:port (0 = any), with SO_BROADCAST on request.
UniqueFd OpenUdpSocket(std::uint16_t port, bool broadcast, int& error);

// The machine's host name; nothing when it has none.
std::optional<std::string> MachineName();

}  // namespace tenvar::platform
