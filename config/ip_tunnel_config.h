// One configured IP tunnel: connections to the local port `Listen` are forwarded to
// `Server`:`Port`. Records are values; a re-read publishes a new list of them.
#pragma once

#include <cstdint>
#include <string>

namespace tenvar::config {

struct IpTunnelConfig {
  std::int32_t Port = 0;
  std::string Server;
  std::int32_t Listen = 0;

  bool operator==(const IpTunnelConfig&) const = default;
};

}  // namespace tenvar::config
