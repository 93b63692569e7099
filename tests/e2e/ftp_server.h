// vsftpd as the FTP server behind the proxy, on 127.0.0.1:21 of the test's namespace, with
// anonymous logins, the files a test adds, and uploads allowed into "incoming". Its Log() has
// every command and reply. systemd-socket-activate holds the listening socket and starts
// vsftpd for each connection, so the port is known to listen once the object is ready.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

// One vsftpd per connection, handed the connection as its standard input and output
// (listen=NO). Its seccomp sandbox stays off: under the container's kernel (gVisor) the
// filter breaks every data transfer. Its passive ports lie outside the kernel's for port 0.
inline constexpr const char* kVsftpdConfiguration = R"(listen=NO
listen_ipv6=NO
anonymous_enable=YES
anon_root=@BASE@/root
ftp_username=ftp
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_umask=022
pasv_enable=YES
pasv_min_port=2200
pasv_max_port=2299
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
secure_chroot_dir=@BASE@/empty
xferlog_enable=YES
dual_log_enable=YES
log_ftp_protocol=YES
vsftpd_log_file=@BASE@/vsftpd.log
)";

class FtpServer : public PeerProgram {
 public:
  static constexpr int kPort = 21;

  explicit FtpServer(const platform::TempDir& dir)
      : PeerProgram(dir.File("ftp/vsftpd.log")), dir_(dir) {
    const std::string base = dir.File("ftp");
    std::filesystem::create_directories(base + "/empty");
    std::filesystem::create_directories(base + "/root/pub");
    // The root itself must not be writable by the ftp user; the upload folder must be.
    std::filesystem::create_directories(base + "/root/incoming");
    std::filesystem::permissions(base + "/root/incoming", std::filesystem::perms::all);
    const std::string configuration =
        dir.Write("ftp/vsftpd.conf", Fill(kVsftpdConfiguration, {{"BASE", base}}));
    // systemd-socket-activate reports "Listening on ..." once its socket listens.
    Start({"systemd-socket-activate", "--listen=127.0.0.1:" + std::to_string(kPort), "--accept",
           "--inetd", FindProgram("vsftpd"), configuration},
          base + "/peer", base + "/peer.stderr", "Listening on");
  }

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
