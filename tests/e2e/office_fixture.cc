#include "tests/e2e/office_fixture.h"

#include <atomic>
#include <filesystem>
#include <sstream>

namespace tenvar::e2e {

std::string WriteOfficeConfiguration(const platform::TempDir& dir, const OfficeOptions& options) {
  std::filesystem::create_directories(dir.File("cache"));
  dir.Write("block.txt", options.BlockFile);
  dir.Write("direct.txt", options.UpstreamExclusions);
  dir.Write("words.txt", options.AbuseKeywords);
  dir.Write("trusted.txt", options.TrustedSites);
  dir.Write("nocache.txt", options.CacheExclusions);
  const auto yesNo = [](bool value) { return value ? "Yes" : "No"; };
  std::ostringstream ini;
  ini << "LogFile " << dir.File("Tenvar.log") << "\nCacheDir " << dir.File("cache")
      << "\nCacheExpiry " << options.CacheExpiry << "\nLimitCache " << yesNo(options.LimitCache)
      << "\nCacheLimit 0\n<HTTPProxy Office:" << kProxyPort << ">\n  UseUpstream "
      << yesNo(options.UseUpstream) << "\n  UpstreamProxyName 127.0.0.1"
      << "\n  UpstreamProxyPort " << options.UpstreamPort << "\n  UseCache "
      << yesNo(options.UseCache) << "\n  AlwaysGetNewest " << yesNo(options.AlwaysGetNewest)
      << "\n  CacheExclusions " << dir.File("nocache.txt") << "\n  BlockFile "
      << dir.File("block.txt") << "\n  AdvancedBlocking " << yesNo(options.AdvancedBlocking)
      << "\n  UpstreamExclusions " << dir.File("direct.txt") << "\n  EnableLogging "
      << yesNo(options.EnableLogging) << "\n  Debug " << yesNo(options.Debug)
      << "\n  AbuseDetection " << yesNo(options.AbuseDetection) << "\n  AbuseKeywords "
      << dir.File("words.txt") << "\n  TrustedSites " << dir.File("trusted.txt")
      << "\n  RequestsLog " << dir.File("requests.csv") << "\n</HTTPProxy>\n";
  for (const config::IpTunnelConfig& tunnel : options.Tunnels) {
    ini << "<IPTunnel>\n  Listen " << tunnel.Listen << "\n  Server " << tunnel.Server << "\n  Port "
        << tunnel.Port << "\n</IPTunnel>\n";
  }
  return dir.Write("Tenvar.ini", ini.str() + options.MoreLines);
}

CurlResult TenvarTest::Fetch(const std::vector<std::string>& arguments) {
  static std::atomic<int> calls{0};
  const std::string prefix = dir_.File("curl" + std::to_string(calls++));
  std::vector<std::string> argv = {
      FindProgram("curl"),     "-q", "-s",          "-S", "--max-time", "20", "-x",
      "http://127.0.0.1:8080", "-w", "%{http_code}"};
  argv.insert(argv.end(), {"-o", prefix + ".body", "-D", prefix + ".headers"});
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  platform::ChildOptions options;
  options.StdoutPath = prefix + ".code";
  options.StderrPath = prefix + ".stderr";
  CurlResult result;
  std::optional<platform::ChildProcess> curl = platform::ChildProcess::Start(argv, options);
  if (!curl) {
    result.Stderr = "curl could not be started";
    return result;
  }
  result.ExitCode = curl->WaitFor(30s);
  result.Status = std::atoi(platform::ReadFileText(options.StdoutPath).c_str());
  result.Headers = platform::ReadFileText(prefix + ".headers");
  result.Body = platform::ReadFileText(prefix + ".body");
  result.Stderr = platform::ReadFileText(options.StderrPath);
  return result;
}

}  // namespace tenvar::e2e
