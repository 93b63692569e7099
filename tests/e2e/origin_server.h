// nginx as the web server behind the proxy, on 127.0.0.1:8081, serving generated files and
// locations that show what reached it. Its Log() is the access log, one line per request:
// "request line|Connection|Via|Transfer-Encoding of the answer|If-Modified-Since", with
// "-" for a header that is not there.
#pragma once

#include <string>
#include <string_view>

#include "tests/e2e/peer_program.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {

inline constexpr const char* kNginxConfiguration = R"(pid @BASE@/nginx.pid;
error_log @BASE@/error.log info;
master_process off;
daemon off;
worker_rlimit_nofile 4096;
events { worker_connections 2048; }
http {
  log_format tenvar '$request|$http_connection|$http_via|$sent_http_transfer_encoding|$http_if_modified_since';
  access_log @BASE@/access.log tenvar;
  client_body_temp_path @BASE@/temp/body;
  proxy_temp_path @BASE@/temp/proxy;
  fastcgi_temp_path @BASE@/temp/fastcgi;
  uwsgi_temp_path @BASE@/temp/uwsgi;
  scgi_temp_path @BASE@/temp/scgi;
  # Long enough that a proxy waiting for the server to close is caught by a client limit.
  keepalive_timeout 65;
  default_type application/octet-stream;
  types { text/plain txt; }
  server {
    listen 127.0.0.1:@PORT@;
    root @BASE@/www;
    location = /echo {
      default_type text/plain;
      return 200 "$request\nConnection: $http_connection\nVia: $http_via\n";
    }
    # The static module refuses POST and PUT; this takes them and hands the body back.
    location = /upload {
      proxy_set_header X-Body $request_body;
      proxy_pass http://127.0.0.1:@BODY_PORT@;
    }
    # Each body in a file of its own, so an upload of any size is compared byte for byte.
    location = /store {
      client_body_in_file_only on;
      client_max_body_size 0;
      proxy_pass_request_body off;
      proxy_set_header Content-Length "";
      proxy_set_header Transfer-Encoding "";
      proxy_set_header X-Body-File $request_body_file;
      proxy_pass http://127.0.0.1:@BODY_PORT@;
    }
    # SSI drops the length, so the answer goes out chunked on a keep-alive connection.
    location = /chunked.txt { ssi on; ssi_types *; }
    location = /nostore.txt { add_header Cache-Control "no-store"; }
    # Answers a shared cache must keep to one user, or keep for a while only.
    location = /private.txt { add_header Cache-Control private; }
    location = /set-cookie.txt { add_header Set-Cookie "id=1"; }
    location = /vary-cookie.txt { add_header Vary Cookie; }
    location = /vary-encoding.txt { add_header Vary Accept-Encoding; }
    location = /max-age.txt { add_header Cache-Control "max-age=600"; }
    location = /max-age-0.txt { add_header Cache-Control "max-age=0"; }
    location = /expired.txt { add_header Expires "Thu, 01 Jan 1970 00:00:00 GMT"; }
    # Stale on arrival: its Age is past its max-age.
    location = /stale.txt { add_header Cache-Control "max-age=60"; add_header Age 100; }
    # No extension for a type to be guessed from.
    location = /about { default_type text/html; add_header X-Content-Type-Options nosniff; }
    location = /gzip.html {
      gzip_static on;
      gzip_vary on;
      gzip_http_version 1.0;
      # Requests with a Via header stay uncompressed unless nginx is told otherwise, as
      # sites serving offices through proxies do.
      gzip_proxied any;
    }
  }
  server {
    listen 127.0.0.1:@BODY_PORT@;
    access_log off;
    location = /store { default_type text/plain; return 200 "$request_method stored=$http_x_body_file\n"; }
    location / { default_type text/plain; return 200 "$request_method body=$http_x_body\n"; }
  }
}
)";

class OriginServer : public PeerProgram {
 public:
  static constexpr int kPort = 8081;
  // A second server for /upload and /store to hand the request body back through.
  static constexpr int kBodyPort = 8082;
  static constexpr std::size_t kBigSize = 10 * 1024 * 1024;
  static constexpr std::size_t kMediumSize = 64 * 1024;
  // Keeps each body in a file; the answer is "<method> stored=<file>\n".
  static constexpr std::string_view kStorePath = "/store";

  explicit OriginServer(const platform::TempDir& dir)
      : PeerProgram(dir.File("origin/access.log")), dir_(dir) {
    const std::string base = dir.File("origin");
    Add("big.bin", test::RandomBytes(kBigSize, 1));
    Add("medium.bin", test::RandomBytes(kMediumSize, 2));
    Add("small.txt", "A small text from the origin.\n");
    Add("nostore.txt", "Never to be kept.\n");
    // Many short lines, so the chunked answer spans several chunks.
    std::string lines;
    for (int line = 1; line <= 20000; ++line) lines += "line " + std::to_string(line) + "\n";
    Add("chunked.txt", lines);
    for (const char* name :
         {"private.txt", "set-cookie.txt", "vary-cookie.txt", "vary-encoding.txt", "max-age.txt",
          "max-age-0.txt", "expired.txt", "stale.txt", "about"}) {
      Add(name, std::string("Content of ") + name + ".\n");
    }
    dir.Write("origin/temp/.keep", "");
    const std::string configuration = dir.Write(
        "origin/nginx.conf", Fill(kNginxConfiguration, {{"BASE", base},
                                                        {"PORT", std::to_string(kPort)},
                                                        {"BODY_PORT", std::to_string(kBodyPort)}}));
    // nginx writes its pid file only after its sockets listen.
    Start({"nginx", "-c", configuration, "-e", base + "/error.log"}, base + "/nginx",
          base + "/nginx.pid", "\n");
    if (!Running()) error_ += " error log: " + platform::ReadFileText(base + "/error.log");
  }

  // "http://127.0.0.1:8081" + path; `path` starts with "/".
  static std::string Url(std::string_view path) {
    return "http://127.0.0.1:" + std::to_string(kPort) + std::string(path);
  }

  // Files of the document root: "big.bin", "medium.bin" (random), "small.txt", "chunked.txt"
  // (sent chunked on a keep-alive connection), files whose locations add caching headers
  // (see the configuration), "/gzip.html" (gzip.html.gz to gzip-accepting browsers, if a
  // test adds both) and whatever Add puts there.
  std::string Content(std::string_view name) const {
    return platform::ReadFileText(dir_.File("origin/www/" + std::string(name)));
  }
  void Add(std::string_view name, std::string_view content) const {
    dir_.Write("origin/www/" + std::string(name), content);
  }

 private:
  const platform::TempDir& dir_;
};

}  // namespace tenvar::e2e
