// openssl s_server on 127.0.0.1:8443 with a fresh self-signed certificate for "localhost",
// answering each request with its HTML status page (-www): the far end of a CONNECT tunnel.
// Started and stopped with the object; not thread-safe.
#pragma once

#include <optional>
#include <string>

#include "platform/child_process.h"
#include "platform/temp_dir.h"

namespace tenvar::e2e {

class TlsServer {
 public:
  static constexpr int kPort = 8443;

  // Makes the certificate and starts the server; returns once it accepts, or with Error().
  explicit TlsServer(const platform::TempDir& dir);

  bool Running() const { return child_.has_value(); }
  const std::string& Error() const { return error_; }

 private:
  std::string error_;
  std::optional<platform::ChildProcess> child_;
};

}  // namespace tenvar::e2e
