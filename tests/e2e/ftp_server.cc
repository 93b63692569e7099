#include "tests/e2e/ftp_server.h"

#include <filesystem>
#include <fstream>

#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {
namespace {

using namespace std::chrono_literals;

// One vsftpd per connection, handed the connection as its standard input and output
// (listen=NO). Its seccomp sandbox stays off: under the container's kernel (gVisor) the
// filter breaks every data transfer.
std::string VsftpdConfiguration(const std::string& base, const std::string& root,
                                const std::string& log) {
  return "listen=NO\n"
         "listen_ipv6=NO\n"
         "anonymous_enable=YES\n"
         "anon_root=" +
         root +
         "\n"
         "ftp_username=ftp\n"
         "local_enable=NO\n"
         "write_enable=YES\n"
         "anon_upload_enable=YES\n"
         "anon_umask=022\n"
         "pasv_enable=YES\n"
         "pasv_min_port=" +
         std::to_string(FtpServer::kFirstPassivePort) +
         "\n"
         "pasv_max_port=" +
         std::to_string(FtpServer::kLastPassivePort) +
         "\n"
         "port_enable=YES\n"
         "connect_from_port_20=NO\n"
         "seccomp_sandbox=NO\n"
         "secure_chroot_dir=" +
         base +
         "/empty\n"
         "xferlog_enable=YES\n"
         "dual_log_enable=YES\n"
         "log_ftp_protocol=YES\n"
         "vsftpd_log_file=" +
         log + "\n";
}

}  // namespace

FtpServer::FtpServer(const platform::TempDir& dir)
    : root_(dir.File("ftp/root")), log_(dir.File("ftp/vsftpd.log")) {
  const std::string base = dir.File("ftp");
  std::filesystem::create_directories(base + "/empty");
  std::filesystem::create_directories(root_ + "/pub");
  // The root itself must not be writable by the ftp user; the upload folder must be.
  std::filesystem::create_directories(root_ + "/incoming");
  std::filesystem::permissions(root_ + "/incoming", std::filesystem::perms::all);
  const std::string configuration =
      dir.Write("ftp/vsftpd.conf", VsftpdConfiguration(base, root_, log_));
  const std::string vsftpd = FindProgram("vsftpd");
  if (vsftpd.empty()) {
    error_ = "vsftpd is not installed";
    return;
  }

  platform::ChildOptions options;
  options.StdoutPath = base + "/stdout";
  options.StderrPath = base + "/stderr";
  // systemd-socket-activate reports "Listening on ..." once its socket listens.
  StartPeer({"systemd-socket-activate", "--listen=127.0.0.1:" + std::to_string(kPort),
             "--accept", "--inetd", vsftpd, configuration},
            options, options.StderrPath, "Listening on", 10s, child_, error_);
}

std::string FtpServer::Url(std::string_view path) {
  return "ftp://127.0.0.1" + std::string(path);
}

void FtpServer::Add(std::string_view name, std::string_view content) const {
  const std::filesystem::path path = root_ + "/" + std::string(name);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string FtpServer::Content(std::string_view name) const {
  return platform::ReadFileText(root_ + "/" + std::string(name));
}

std::string FtpServer::Log() const { return platform::ReadFileText(log_); }

}  // namespace tenvar::e2e
