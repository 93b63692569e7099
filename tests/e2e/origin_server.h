// nginx as the web server behind the proxy, on 127.0.0.1:8081, serving generated files and
// locations that show what reached it. Its Log() is the access log, one line per request:
// "request line|Connection|Via|Transfer-Encoding of the answer|If-Modified-Since", with
// "-" for a header that is not there.
#pragma once

#include <string>
#include <string_view>

#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

class OriginServer : public PeerProgram {
 public:
  static constexpr int kPort = 8081;
  // A second server for /upload and /store to hand the request body back through.
  static constexpr int kBodyPort = 8082;
  static constexpr std::size_t kBigSize = 10 * 1024 * 1024;
  static constexpr std::size_t kMediumSize = 64 * 1024;
  // Keeps each body in a file; the answer is "<method> stored=<file>\n".
  static constexpr std::string_view kStorePath = "/store";

  explicit OriginServer(const platform::TempDir& dir);

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
