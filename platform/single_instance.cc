#include "platform/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace tenvar::platform {

std::optional<SingleInstanceMarker> SingleInstanceMarker::Claim(const std::string& name) {
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.Valid()) return std::nullopt;
  // Abstract names are shared by all users of the namespace; the user id keeps users apart.
  const std::string abstractName = name + "." + std::to_string(::getuid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t length = std::min(abstractName.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, abstractName.data(), length);  // sun_path[0] == 0: abstract
  const auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), addressLength) != 0) {
    return std::nullopt;
  }
  return SingleInstanceMarker(std::move(socket));
}

}  // namespace tenvar::platform
