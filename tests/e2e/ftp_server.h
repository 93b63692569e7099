// vsftpd as the FTP server behind the proxy, on 127.0.0.1:21 of the test's namespace, with
// anonymous logins, the files a test adds, and uploads allowed into "incoming". Its Log() has
// every command and reply. systemd-socket-activate holds the listening socket and starts
// vsftpd for each connection, so the port is known to listen once the object is ready.
#pragma once

#include <string>
#include <string_view>

#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

class FtpServer : public PeerProgram {
 public:
  static constexpr int kPort = 21;
  // The ports of its passive replies: none of them is a port the kernel hands out for port 0.
  static constexpr int kFirstPassivePort = 2200;
  static constexpr int kLastPassivePort = 2299;

  explicit FtpServer(const platform::TempDir& dir);

  // "ftp://127.0.0.1" + path; `path` starts with "/".
  static std::string Url(std::string_view path) { return "ftp://127.0.0.1" + std::string(path); }

  // Files below the anonymous root; `name` is relative to it ("pub/a.txt").
  void Add(std::string_view name, std::string_view content) const {
    dir_.Write("ftp/root/" + std::string(name), content);
  }
  std::string Content(std::string_view name) const {
    return platform::ReadFileText(dir_.File("ftp/root/" + std::string(name)));
  }

 private:
  const platform::TempDir& dir_;
};

}  // namespace tenvar::e2e
