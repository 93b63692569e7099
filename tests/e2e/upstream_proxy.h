// squid as the upstream proxy on 127.0.0.1:3128, without a cache, writing its logs into the
// test's directory. Started and stopped with the object; not thread-safe.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/child_process.h"
#include "platform/temp_dir.h"

namespace tenvar::e2e {

class UpstreamProxy {
 public:
  static constexpr int kPort = 3128;
  // What squid adds to the Via header of every request it forwards.
  static constexpr std::string_view kVia = "1.1 tenvar-upstream (squid";

  // Writes the configuration under dir/squid and starts squid; returns once it accepts
  // connections, or with Error() set.
  explicit UpstreamProxy(const platform::TempDir& dir);
  // Ends squid and removes the shared-memory segments it made.
  ~UpstreamProxy();
  UpstreamProxy(const UpstreamProxy&) = delete;
  UpstreamProxy& operator=(const UpstreamProxy&) = delete;

  bool Running() const { return child_.has_value(); }
  const std::string& Error() const { return error_; }

  // squid's access log: one line per request with its method and absolute URL.
  std::string AccessLog() const;
  bool WaitForAccessLog(std::string_view text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  std::string serviceName_;
  std::string accessLog_;
  std::string error_;
  std::optional<platform::ChildProcess> child_;
};

}  // namespace tenvar::e2e
