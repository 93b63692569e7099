// Runs curl the way a browser on the office LAN would use the proxy, and collects what it
// got. Each call writes files of its own in the test's directory, so calls may run from
// several threads at once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/temp_dir.h"

namespace tenvar::e2e {

struct CurlResult {
  std::optional<int> ExitCode;  // nothing when curl overran its own time limit
  int Status = 0;               // the HTTP status code, 0 when there was no answer
  std::string Headers;          // every header block received, proxy answers included
  std::string Body;
  std::string Stderr;
};

// curl -s -S --max-time 20 `arguments`... with ~/.curlrc ignored; without "-x" in
// `arguments` any proxy of the environment is bypassed too.
CurlResult Curl(const platform::TempDir& dir, const std::vector<std::string>& arguments);

// The arguments that send curl through tenvar's HTTP proxy on 127.0.0.1:8080.
std::vector<std::string> ThroughProxy(std::vector<std::string> arguments);

}  // namespace tenvar::e2e
