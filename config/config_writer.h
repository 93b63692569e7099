// The configuration file as the editor writes it: globals, then every HTTP proxy instance,
// then every IP tunnel, in list order. Comments and unknown lines of an earlier file are not
// carried over, and Debug is never written.
#pragma once

#include <string>
#include <vector>

#include "config/global_settings.h"
#include "config/http_proxy_options.h"
#include "config/ip_tunnel_config.h"

namespace tenvar::config {

// PhonebookEntry is written only when it is not empty (the editor passes the selected entry).
std::string WriteConfiguration(const GlobalSettings& settings,
                               const std::vector<HttpProxyOptions>& proxies,
                               const std::vector<IpTunnelConfig>& tunnels);

// How replacing the file on disk went. Open: the file could not be written at all (a
// read-only file, a folder without write permission); Write: the new text could not be
// completed. Either way the previous file is left as it was.
struct SaveOutcome {
  enum class Failure { None, Open, Write };
  Failure Failed = Failure::None;
  int Error = 0;  // errno of the failed step
  bool Ok() const { return Failed == Failure::None; }
};

// Writes WriteConfiguration's text to a temporary file beside `path` and renames it over
// `path`, so a reader (the running program) sees the old file or the whole new one, never a
// part. A symbolic link is followed and its target replaced; the target keeps its mode.
SaveOutcome SaveConfigurationFile(const std::string& path, const GlobalSettings& settings,
                                  const std::vector<HttpProxyOptions>& proxies,
                                  const std::vector<IpTunnelConfig>& tunnels);

}  // namespace tenvar::config
