#include "tests/e2e/tls_server.h"

#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

using namespace std::chrono_literals;

TlsServer::TlsServer(const platform::TempDir& dir) {
  const std::string key = dir.File("tls.key");
  const std::string certificate = dir.File("tls.crt");
  const std::string openssl = FindProgram("openssl");
  if (openssl.empty()) {
    error_ = "openssl is not installed";
    return;
  }
  platform::ChildOptions requestOptions;
  requestOptions.StderrPath = dir.File("tls.req.stderr");
  std::optional<platform::ChildProcess> request = platform::ChildProcess::Start(
      {openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-days",
       "1", "-keyout", key, "-out", certificate},
      requestOptions);
  if (!request || request->WaitFor(30s) != 0) {
    error_ = "openssl req failed: " + platform::ReadFileText(requestOptions.StderrPath);
    return;
  }

  platform::ChildOptions options;
  options.StdoutPath = dir.File("tls.stdout");
  options.StderrPath = dir.File("tls.stderr");
  // s_server prints ACCEPT (and flushes) once its socket listens.
  StartPeer({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(kPort), "-cert",
             certificate, "-key", key, "-www"},
            options, options.StdoutPath, "ACCEPT", 10s, child_, error_);
}

}  // namespace tenvar::e2e
