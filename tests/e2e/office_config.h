// The configuration file of the office the tests run: one HTTP proxy instance "Office" on
// port 8080 whose list files live beside it, plus any IP tunnels. Plain values and a
// writer; thread-compatible.
#pragma once

#include <string>
#include <vector>

#include "config/ip_tunnel_config.h"
#include "platform/temp_dir.h"

namespace tenvar::e2e {

struct OfficeOptions {
  bool UseUpstream = false;  // squid on 127.0.0.1:3128, unless UpstreamPort says otherwise
  int UpstreamPort = 3128;
  bool AdvancedBlocking = false;
  bool EnableLogging = true;
  bool Debug = false;
  bool AbuseDetection = true;
  bool UseCache = false;
  bool AlwaysGetNewest = false;
  bool LimitCache = false;
  int CacheLimit = 0;
  int CacheExpiry = 7;
  // Contents of the instance's list files.
  std::string BlockFile;
  std::string UpstreamExclusions;
  std::string AbuseKeywords;
  std::string TrustedSites;
  std::string CacheExclusions;
  std::vector<config::IpTunnelConfig> Tunnels;
};

inline constexpr int kProxyPort = 8080;
inline constexpr const char* kProxyStarted = "HTTP Proxy started on port 8080";

// Writes dir/Tenvar.ini and the list files it names; returns the ini's path.
std::string WriteOfficeConfiguration(const platform::TempDir& dir, const OfficeOptions& options);

// Where the instance writes its CSV request log.
std::string RequestsLogPath(const platform::TempDir& dir);

}  // namespace tenvar::e2e
