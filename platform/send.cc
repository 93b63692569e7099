#include "platform/send.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/wait.h"

namespace tenvar::platform {

int SendBuffer(int fd, const char* data, std::size_t length, const ExitEvent& exitEvent) {
  if (exitEvent.IsSignalled()) return -1;
  std::size_t sent = 0;
  while (sent < length) {
    // MSG_NOSIGNAL: a peer that went away is a -1 here, not a SIGPIPE for the process.
    const ssize_t result = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL);
    if (result > 0) {
      sent += static_cast<std::size_t>(result);
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFor(fd, POLLOUT, exitEvent, kNoDeadline) != WaitResult::Ready) return -1;
      continue;  // room, or an error that the next send() reports
    }
    return -1;
  }
  return 0;
}

int SendString(int fd, std::string_view text, const ExitEvent& exitEvent) {
  return SendBuffer(fd, text.data(), text.size(), exitEvent);
}

bool SendWithin(int fd, std::string_view bytes, const ExitEvent& exitEvent,
                std::chrono::milliseconds stallLimit) {
  while (!bytes.empty()) {
    const ssize_t result = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (result > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(result));
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    if (result == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    const Deadline deadline = std::chrono::steady_clock::now() + stallLimit;
    if (WaitFor(fd, POLLOUT, exitEvent, deadline) != WaitResult::Ready) return false;
  }
  return !exitEvent.IsSignalled();
}

}  // namespace tenvar::platform
