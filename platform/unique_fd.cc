#include "platform/unique_fd.h"

#include <unistd.h>

namespace tenvar::platform {

void UniqueFd::Reset(int fd) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace tenvar::platform
