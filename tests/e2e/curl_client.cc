#include "tests/e2e/curl_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/child_process.h"
#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

using namespace std::chrono_literals;

CurlResult Curl(const platform::TempDir& dir, const std::vector<std::string>& arguments) {
  static std::atomic<int> calls{0};
  const std::string prefix = dir.File("curl" + std::to_string(calls++));
  CurlResult result;
  std::vector<std::string> argv = {FindProgram("curl"), "-q", "-s", "-S", "--max-time", "20",
                                   "-o", prefix + ".body", "-D", prefix + ".headers",
                                   "-w", "%{http_code}"};
  if (std::find(arguments.begin(), arguments.end(), "-x") == arguments.end()) {
    argv.insert(argv.end(), {"--noproxy", "*"});
  }
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  platform::ChildOptions options;
  options.StdoutPath = prefix + ".code";
  options.StderrPath = prefix + ".stderr";
  std::optional<platform::ChildProcess> curl = platform::ChildProcess::Start(argv, options);
  if (!curl) {
    result.Stderr = "curl could not be started";
    return result;
  }
  result.ExitCode = curl->WaitFor(30s);
  const std::string code = platform::ReadFileText(options.StdoutPath);
  result.Status = code.empty() ? 0 : std::atoi(code.c_str());
  result.Headers = platform::ReadFileText(prefix + ".headers");
  result.Body = platform::ReadFileText(prefix + ".body");
  result.Stderr = platform::ReadFileText(options.StderrPath);
  return result;
}

std::vector<std::string> ThroughProxy(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"-x", "http://127.0.0.1:8080"});
  return arguments;
}

}  // namespace tenvar::e2e
