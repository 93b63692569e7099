#include "tests/e2e/office_config.h"

#include <filesystem>

namespace tenvar::e2e {
namespace {

const char* YesNo(bool value) { return value ? "Yes" : "No"; }

}  // namespace

std::string RequestsLogPath(const platform::TempDir& dir) { return dir.File("requests.csv"); }

std::string WriteOfficeConfiguration(const platform::TempDir& dir, const OfficeOptions& options) {
  std::filesystem::create_directories(dir.File("cache"));
  const std::string blockFile = dir.Write("block.txt", options.BlockFile);
  const std::string exclusions = dir.Write("direct.txt", options.UpstreamExclusions);
  const std::string keywords = dir.Write("words.txt", options.AbuseKeywords);
  const std::string trusted = dir.Write("trusted.txt", options.TrustedSites);
  const std::string noCache = dir.Write("nocache.txt", options.CacheExclusions);
  std::string ini =
      "LogFile " + dir.File("Tenvar.log") + "\n" + "CacheDir " + dir.File("cache") + "\n" +
      "CacheExpiry " + std::to_string(options.CacheExpiry) + "\n" + "LimitCache " +
      YesNo(options.LimitCache) + "\n" + "CacheLimit " + std::to_string(options.CacheLimit) + "\n" +
      "<HTTPProxy Office:" + std::to_string(kProxyPort) + ">\n" + "  UseUpstream " +
      YesNo(options.UseUpstream) + "\n" + "  UpstreamProxyName 127.0.0.1\n" +
      "  UpstreamProxyPort " + std::to_string(options.UpstreamPort) + "\n" + "  UseCache " +
      YesNo(options.UseCache) + "\n" + "  AlwaysGetNewest " + YesNo(options.AlwaysGetNewest) +
      "\n" + "  CacheExclusions " + noCache + "\n" + "  BlockFile " + blockFile + "\n" +
      "  AdvancedBlocking " + YesNo(options.AdvancedBlocking) + "\n" + "  UpstreamExclusions " +
      exclusions + "\n" + "  EnableLogging " + YesNo(options.EnableLogging) + "\n" + "  Debug " +
      YesNo(options.Debug) + "\n" + "  AbuseDetection " + YesNo(options.AbuseDetection) + "\n" +
      "  AbuseKeywords " + keywords + "\n" + "  TrustedSites " + trusted + "\n" + "  RequestsLog " +
      RequestsLogPath(dir) + "\n" + "</HTTPProxy>\n";
  for (const config::IpTunnelConfig& tunnel : options.Tunnels) {
    ini += "<IPTunnel>\n  Listen " + std::to_string(tunnel.Listen) + "\n  Server " +
           tunnel.Server + "\n  Port " + std::to_string(tunnel.Port) + "\n</IPTunnel>\n";
  }
  return dir.Write("Tenvar.ini", ini);
}

}  // namespace tenvar::e2e
