#include "tests/e2e/ftp_server.h"

#include <filesystem>

namespace tenvar::e2e {
namespace {

// One vsftpd per connection, handed the connection as its standard input and output
// (listen=NO). Its seccomp sandbox stays off: under the container's kernel (gVisor) the
// filter breaks every data transfer.
constexpr const char* kVsftpdConfiguration = R"(listen=NO
listen_ipv6=NO
anonymous_enable=YES
anon_root=@BASE@/root
ftp_username=ftp
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_umask=022
pasv_enable=YES
pasv_min_port=@FIRST@
pasv_max_port=@LAST@
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
secure_chroot_dir=@BASE@/empty
xferlog_enable=YES
dual_log_enable=YES
log_ftp_protocol=YES
vsftpd_log_file=@BASE@/vsftpd.log
)";

}  // namespace

FtpServer::FtpServer(const platform::TempDir& dir)
    : PeerProgram(dir.File("ftp/vsftpd.log")), dir_(dir) {
  const std::string base = dir.File("ftp");
  std::filesystem::create_directories(base + "/empty");
  std::filesystem::create_directories(base + "/root/pub");
  // The root itself must not be writable by the ftp user; the upload folder must be.
  std::filesystem::create_directories(base + "/root/incoming");
  std::filesystem::permissions(base + "/root/incoming", std::filesystem::perms::all);
  const std::string configuration = dir.Write(
      "ftp/vsftpd.conf", Fill(kVsftpdConfiguration, {{"BASE", base},
                                                     {"FIRST", std::to_string(kFirstPassivePort)},
                                                     {"LAST", std::to_string(kLastPassivePort)}}));
  // systemd-socket-activate reports "Listening on ..." once its socket listens.
  Start({"systemd-socket-activate", "--listen=127.0.0.1:" + std::to_string(kPort), "--accept",
         "--inetd", FindProgram("vsftpd"), configuration},
        base + "/peer", base + "/peer.stderr", "Listening on");
}

}  // namespace tenvar::e2e
