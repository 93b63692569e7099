// squid as the upstream proxy on 127.0.0.1:3128, without a cache, writing its logs into the
// test's directory. Its Log() is the access log: one line per request with its method and
// absolute URL.
#pragma once

#include <string>
#include <string_view>

#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

class UpstreamProxy : public PeerProgram {
 public:
  static constexpr int kPort = 3128;
  // What squid adds to the Via header of every request it forwards.
  static constexpr std::string_view kVia = "1.1 tenvar-upstream (squid";

  explicit UpstreamProxy(const platform::TempDir& dir);
  // Ends squid and removes the shared-memory segments it made.
  ~UpstreamProxy();
  UpstreamProxy(const UpstreamProxy&) = delete;
  UpstreamProxy& operator=(const UpstreamProxy&) = delete;

 private:
  std::string serviceName_;
};

}  // namespace tenvar::e2e
