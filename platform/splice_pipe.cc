#include "platform/splice_pipe.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>

namespace tenvar::platform {
namespace {

bool SigpipeIgnored() {
  struct sigaction current {};
  return ::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

SysResult Splice(int from, int to, std::size_t count) {
  for (;;) {
    const ssize_t moved =
        ::splice(from, nullptr, to, nullptr, count, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return {0, errno};
    return {static_cast<long>(moved), 0};
  }
}

}  // namespace

std::optional<SplicePipe> SplicePipe::Open(std::size_t bytes) {
  if (!SigpipeIgnored()) return std::nullopt;
  int ends[2];
  if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return std::nullopt;
  SplicePipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
  ::fcntl(pipe.in_.Get(), F_SETPIPE_SZ, static_cast<int>(bytes));
  return pipe;
}

SysResult SplicePipe::Fill(int from, std::size_t count) { return Splice(from, in_.Get(), count); }

SysResult SplicePipe::Drain(int to, std::size_t count) { return Splice(out_.Get(), to, count); }

}  // namespace tenvar::platform
