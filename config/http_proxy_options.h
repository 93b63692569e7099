// The options of one HTTP proxy instance as the configuration file sets them. Held as an
// immutable snapshot by HttpProxyConfig; a re-read publishes a new one whole.
#pragma once

#include <cstdint>
#include <string>

namespace tenvar::config {

struct HttpProxyOptions {
  std::string Name;
  std::int32_t Port = 0;
  bool UseUpstream = false;
  std::string UpstreamProxyName;
  std::int32_t UpstreamProxyPort = 0;
  bool UseCache = false;
  bool AlwaysGetNewest = false;
  std::string BlockFile;
  bool AdvancedBlocking = false;
  std::string UpstreamExclusions;
  std::string CacheExclusions;
  bool EnableLogging = false;
  bool Debug = false;
  std::string RequestsLog;
  bool AbuseDetection = false;
  std::string AbuseKeywords;
  std::string TrustedSites;

  bool operator==(const HttpProxyOptions&) const = default;
};

}  // namespace tenvar::config
