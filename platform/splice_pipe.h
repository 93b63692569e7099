// A pipe through which bytes go from one socket to another inside the kernel (splice), so
// that a body nobody keeps is never copied through the process. One thread uses it.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/sys_result.h"
#include "platform/unique_fd.h"

namespace tenvar::platform {

class SplicePipe {
 public:
  // A pipe of about `bytes` (the kernel may grant less). Nothing when none can be had, or
  // when the process does not ignore SIGPIPE: a splice into a socket whose reader has gone
  // raises it, and there is no MSG_NOSIGNAL for a splice.
  static std::optional<SplicePipe> Open(std::size_t bytes);

  // Moves up to `count` bytes from socket `from` into the pipe without blocking: the bytes
  // moved (0 when the peer has ended its sending), or the errno (EAGAIN: nothing there yet).
  SysResult Fill(int from, std::size_t count);

  // Moves up to `count` bytes from the pipe into socket `to` without blocking.
  SysResult Drain(int to, std::size_t count);

 private:
  SplicePipe(UniqueFd out, UniqueFd in) : out_(std::move(out)), in_(std::move(in)) {}

  UniqueFd out_;
  UniqueFd in_;
};

}  // namespace tenvar::platform
