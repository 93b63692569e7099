// openssl s_server on 127.0.0.1:8443 with a fresh self-signed certificate for "localhost",
// answering each request with its HTML status page (-www): the far end of a CONNECT tunnel.
#pragma once

#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

class TlsServer : public PeerProgram {
 public:
  static constexpr int kPort = 8443;

  explicit TlsServer(const platform::TempDir& dir) : PeerProgram(dir.File("tls.stdout")) {
    const std::string key = dir.File("tls.key");
    const std::string certificate = dir.File("tls.crt");
    const platform::ChildOptions options{"/dev/null", dir.File("tls.req.stderr"), false, {}};
    std::optional<platform::ChildProcess> request = platform::ChildProcess::Start(
        {FindProgram("openssl"), "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
         "/CN=localhost", "-days", "1", "-keyout", key, "-out", certificate},
        options);
    if (!request || request->WaitFor(30s) != 0) {
      error_ = "openssl req failed: " + platform::ReadFileText(options.StderrPath);
      return;
    }
    // s_server prints ACCEPT (and flushes) once its socket listens.
    Start({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(kPort), "-cert",
           certificate, "-key", key, "-www"},
          dir.File("tls"), LogPath(), "ACCEPT");
  }
};

}  // namespace tenvar::e2e
