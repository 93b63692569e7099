// A plain TCP client on 127.0.0.1 for exchanges curl cannot show byte for byte: exact proxy
// answers, tunnels, many connections at once. Stateless functions; safe from any thread.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace tenvar::e2e {

// A connected, blocking socket to 127.0.0.1:`port`; invalid when refused or too slow.
platform::UniqueFd ConnectTo(int port,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

bool SendAll(int fd, std::string_view data);

// Reads until the peer closes or `timeout` has passed; `closed` says which it was.
std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout, bool* closed = nullptr);

// Connects, sends `request` and reads the answer to the end; empty when it could not connect.
std::string Exchange(int port, std::string_view request,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));

// An HTTP answer cut at its blank line: the status line, the header lines (each ending in
// "\r\n") and the body. Everything lands in StatusLine when there is no blank line.
struct RawReply {
  std::string StatusLine;
  std::string Headers;
  std::string Body;
};
RawReply SplitReply(std::string_view reply);

}  // namespace tenvar::e2e
