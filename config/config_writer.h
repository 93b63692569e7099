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

}  // namespace tenvar::config
