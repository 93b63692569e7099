// The mark a running copy leaves so that a second copy can refuse to start: an abstract
// UNIX socket, which the kernel releases the moment its owner ends, however it ends.
#pragma once

#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace tenvar::platform {

class SingleInstanceMarker {
 public:
  // Claims `name` for the calling user; nothing when another process holds it.
  static std::optional<SingleInstanceMarker> Claim(const std::string& name);

 private:
  explicit SingleInstanceMarker(UniqueFd socket) : socket_(std::move(socket)) {}
  UniqueFd socket_;
};

}  // namespace tenvar::platform
