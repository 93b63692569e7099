// nginx as the web server behind the proxy, on 127.0.0.1:8081, serving generated files and
// locations that show what reached it. Started and stopped with the object; not
// thread-safe, though its files may be read from any thread once it runs.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/child_process.h"
#include "platform/temp_dir.h"

namespace tenvar::e2e {

class OriginServer {
 public:
  static constexpr int kPort = 8081;
  // A second server for /upload to hand the request body back through.
  static constexpr int kBodyPort = 8082;
  static constexpr std::size_t kBigSize = 10 * 1024 * 1024;
  static constexpr std::size_t kMediumSize = 64 * 1024;

  // Generates the files and the configuration under dir/origin and starts nginx; returns
  // once it listens, or with Error() set.
  explicit OriginServer(const platform::TempDir& dir);

  bool Running() const { return child_.has_value(); }
  const std::string& Error() const { return error_; }

  // Requests to "/store" keep their body in a file; the answer is
  // "<method> stored=<file>\n".
  static constexpr std::string_view kStorePath = "/store";

  // "http://127.0.0.1:8081" + path; `path` starts with "/".
  static std::string Url(std::string_view path);

  // Files of the document root: "big.bin" (random), "medium.bin" (random), "small.txt",
  // "chunked.txt" (sent chunked on a keep-alive connection), files whose locations add
  // caching headers ("private.txt", "set-cookie.txt", "vary-cookie.txt",
  // "vary-encoding.txt", "max-age.txt", "max-age-0.txt", "expired.txt", "stale.txt", and
  // "about" as text/html with nosniff), "/gzip.html" (serves gzip.html.gz to gzip-accepting
  // browsers, if a test adds both) and whatever Add puts there.
  std::string Content(std::string_view name) const;
  void Add(std::string_view name, std::string_view content) const;

  // One access-log line per request:
  // "request line|Connection header|Via header|Transfer-Encoding of the answer|
  // If-Modified-Since header", with "-" for a header that is not there.
  std::string AccessLog() const;
  bool WaitForAccessLog(std::string_view text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  std::string root_;
  std::string accessLog_;
  std::string error_;
  std::optional<platform::ChildProcess> child_;
};

}  // namespace tenvar::e2e
