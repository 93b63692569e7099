// vsftpd as the FTP server behind the proxy, on 127.0.0.1:21 of the test's namespace, with
// anonymous logins, the files a test adds, and uploads allowed into "incoming".
// systemd-socket-activate holds the listening socket and starts vsftpd for each connection,
// so the port is known to listen once the object is ready. Not thread-safe; its files may
// be read from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/child_process.h"
#include "platform/temp_dir.h"

namespace tenvar::e2e {

class FtpServer {
 public:
  static constexpr int kPort = 21;
  // The ports of its passive replies: none of them is a port the kernel hands out for port 0.
  static constexpr int kFirstPassivePort = 2200;
  static constexpr int kLastPassivePort = 2299;

  // Writes the configuration under dir/ftp and starts the server; returns once it listens,
  // or with Error() set.
  explicit FtpServer(const platform::TempDir& dir);

  bool Running() const { return child_.has_value(); }
  const std::string& Error() const { return error_; }

  // "ftp://127.0.0.1" + path; `path` starts with "/".
  static std::string Url(std::string_view path);

  // Files below the anonymous root; `name` is relative to it ("pub/a.txt").
  void Add(std::string_view name, std::string_view content) const;
  std::string Content(std::string_view name) const;

  // vsftpd's log of every command and reply, and the file it is written to.
  std::string Log() const;
  const std::string& LogPath() const { return log_; }

 private:
  std::string root_;
  std::string log_;
  std::string error_;
  std::optional<platform::ChildProcess> child_;
};

}  // namespace tenvar::e2e
