#include "tests/e2e/origin_server.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/e2e/file_watch.h"
#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {
namespace {

using namespace std::chrono_literals;

std::string RandomBytes(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; i += 8) {
    std::uint64_t word = generator();
    for (std::size_t j = i; j < i + 8 && j < size; ++j, word >>= 8) {
      bytes[j] = static_cast<char>(word & 0xff);
    }
  }
  return bytes;
}

void WriteFile(const std::string& path, std::string_view content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Many short lines, so the chunked answer spans several chunks.
std::string NumberedLines() {
  std::string text;
  for (int line = 1; line <= 20000; ++line) text += "line " + std::to_string(line) + "\n";
  return text;
}

std::string NginxConfiguration(const std::string& base, const std::string& root,
                               const std::string& accessLog) {
  const std::string port = std::to_string(OriginServer::kPort);
  const std::string bodyPort = std::to_string(OriginServer::kBodyPort);
  return "pid " + base +
         "/nginx.pid;\n"
         "error_log " +
         base +
         "/error.log info;\n"
         "master_process off;\n"
         "daemon off;\n"
         "worker_rlimit_nofile 4096;\n"
         "events { worker_connections 2048; }\n"
         "http {\n"
         "  log_format tenvar '$request|$http_connection|$http_via|$sent_http_transfer_encoding"
         "|$http_if_modified_since';\n"
         "  access_log " +
         accessLog +
         " tenvar;\n"
         "  client_body_temp_path " +
         base +
         "/temp/body;\n"
         "  proxy_temp_path " +
         base +
         "/temp/proxy;\n"
         "  fastcgi_temp_path " +
         base +
         "/temp/fastcgi;\n"
         "  uwsgi_temp_path " +
         base +
         "/temp/uwsgi;\n"
         "  scgi_temp_path " +
         base +
         "/temp/scgi;\n"
         // Long enough that a proxy waiting for the server to close would be caught by
         // any client time limit.
         "  keepalive_timeout 65;\n"
         "  default_type application/octet-stream;\n"
         "  types { text/plain txt; }\n"
         "  server {\n"
         "    listen 127.0.0.1:" +
         port +
         ";\n"
         "    root " +
         root +
         ";\n"
         "    location = /echo {\n"
         "      default_type text/plain;\n"
         "      return 200 \"$request\\nConnection: $http_connection\\nVia: $http_via\\n\";\n"
         "    }\n"
         // The static module refuses POST and PUT; this one takes them and hands the body
         // back through the second server.
         "    location = /upload {\n"
         "      proxy_set_header X-Body $request_body;\n"
         "      proxy_pass http://127.0.0.1:" +
         bodyPort +
         ";\n"
         "    }\n"
         // Keeps each body in a file of its own and answers with the file's name, so a test
         // can compare an upload of any size byte for byte.
         "    location = /store {\n"
         "      client_body_in_file_only on;\n"
         "      client_max_body_size 0;\n"
         "      proxy_pass_request_body off;\n"
         "      proxy_set_header Content-Length \"\";\n"
         "      proxy_set_header Transfer-Encoding \"\";\n"
         "      proxy_set_header X-Body-File $request_body_file;\n"
         "      proxy_pass http://127.0.0.1:" +
         bodyPort +
         ";\n"
         "    }\n"
         // SSI drops the length, so the answer goes out chunked on a keep-alive connection.
         "    location = /chunked.txt { ssi on; ssi_types *; }\n"
         "    location = /nostore.txt { add_header Cache-Control \"no-store\"; }\n"
         // Answers a shared cache must keep to one user, or keep for a while only.
         "    location = /private.txt { add_header Cache-Control private; }\n"
         "    location = /set-cookie.txt { add_header Set-Cookie \"id=1\"; }\n"
         "    location = /vary-cookie.txt { add_header Vary Cookie; }\n"
         "    location = /vary-encoding.txt { add_header Vary Accept-Encoding; }\n"
         "    location = /max-age.txt { add_header Cache-Control \"max-age=600\"; }\n"
         "    location = /max-age-0.txt { add_header Cache-Control \"max-age=0\"; }\n"
         "    location = /expired.txt {\n"
         "      add_header Expires \"Thu, 01 Jan 1970 00:00:00 GMT\";\n"
         "    }\n"
         // Stale on arrival: its Age is past its max-age.
         "    location = /stale.txt {\n"
         "      add_header Cache-Control \"max-age=60\";\n"
         "      add_header Age 100;\n"
         "    }\n"
         // No extension for a type to be guessed from.
         "    location = /about {\n"
         "      default_type text/html;\n"
         "      add_header X-Content-Type-Options nosniff;\n"
         "    }\n"
         // gzip.html.gz to browsers that accept gzip, gzip.html to the others.
         "    location = /gzip.html {\n"
         "      gzip_static on;\n"
         "      gzip_vary on;\n"
         "      gzip_http_version 1.0;\n"
         // nginx leaves requests that came through a proxy (a Via header) uncompressed
         // unless told otherwise, as sites serving offices through proxies do.
         "      gzip_proxied any;\n"
         "    }\n"
         "  }\n"
         "  server {\n"
         "    listen 127.0.0.1:" +
         bodyPort +
         ";\n"
         "    access_log off;\n"
         "    location = /store {\n"
         "      default_type text/plain;\n"
         "      return 200 \"$request_method stored=$http_x_body_file\\n\";\n"
         "    }\n"
         "    location / {\n"
         "      default_type text/plain;\n"
         "      return 200 \"$request_method body=$http_x_body\\n\";\n"
         "    }\n"
         "  }\n"
         "}\n";
}

}  // namespace

OriginServer::OriginServer(const platform::TempDir& dir)
    : root_(dir.File("origin/www")), accessLog_(dir.File("origin/access.log")) {
  const std::string base = dir.File("origin");
  Add("big.bin", RandomBytes(kBigSize, 1));
  Add("medium.bin", RandomBytes(kMediumSize, 2));
  Add("small.txt", "A small text from the origin.\n");
  Add("nostore.txt", "Never to be kept.\n");
  Add("chunked.txt", NumberedLines());
  for (const char* name : {"private.txt", "set-cookie.txt", "vary-cookie.txt", "vary-encoding.txt",
                           "max-age.txt", "max-age-0.txt", "expired.txt", "stale.txt", "about"}) {
    Add(name, std::string("Content of ") + name + ".\n");
  }
  dir.Write("origin/temp/.keep", "");
  const std::string configuration =
      dir.Write("origin/nginx.conf", NginxConfiguration(base, root_, accessLog_));

  platform::ChildOptions options;
  options.StdoutPath = base + "/stdout";
  options.StderrPath = base + "/stderr";
  // nginx writes its pid file only after its sockets listen.
  if (!StartPeer({"nginx", "-c", configuration, "-e", base + "/error.log"}, options,
                 base + "/nginx.pid", "\n", 10s, child_, error_)) {
    error_ += " error log: " + platform::ReadFileText(base + "/error.log");
  }
}

std::string OriginServer::Url(std::string_view path) {
  return "http://127.0.0.1:" + std::to_string(kPort) + std::string(path);
}

std::string OriginServer::Content(std::string_view name) const {
  return platform::ReadFileText(root_ + "/" + std::string(name));
}

void OriginServer::Add(std::string_view name, std::string_view content) const {
  WriteFile(root_ + "/" + std::string(name), content);
}

std::string OriginServer::AccessLog() const { return platform::ReadFileText(accessLog_); }

bool OriginServer::WaitForAccessLog(std::string_view text,
                                    std::chrono::milliseconds timeout) const {
  return WaitForFileText(accessLog_, text, timeout, child_ ? child_->Pid() : 0);
}

}  // namespace tenvar::e2e
