// The rules of the instance and tunnel dialogs: the file names derived from an instance's
// name, which fields each check box enables, and the checks OK runs, in their order.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/http_proxy_options.h"
#include "config/ip_tunnel_config.h"
#include "editor/editor_messages.h"

namespace tenvar::editor {

// Sets the six list and log files of an instance to programDirectory/<Name><suffix>. Run at
// every change the user makes to the name, so hand-typed paths are replaced.
void DeriveFileNames(config::HttpProxyOptions& fields, const std::string& programDirectory);

// The fields a check box enables; a disabled field keeps its text and is still saved.
struct InstanceFieldsEnabled {
  bool AlwaysGetNewest;     // by "Use cache?"
  bool CacheExclusions;     //   "
  bool UpstreamProxyName;   // by "Use upstream proxy server?"
  bool UpstreamProxyPort;   //   "
  bool UpstreamExclusions;  //   "
  bool AbuseKeywords;       // by "Keyword checking?"

  bool operator==(const InstanceFieldsEnabled&) const = default;
};
InstanceFieldsEnabled EnabledFields(const config::HttpProxyOptions& fields);

// The first check of the instance dialog's OK that fails, or nothing. `others` are the
// instances already configured; a new instance may not share a port with any of them.
std::optional<EditorMessage> CheckProxyInstance(
    const config::HttpProxyOptions& fields, bool isNewInstance,
    const std::vector<config::HttpProxyOptions>& others);

// The first check of the tunnel dialog's OK that fails, or nothing.
std::optional<EditorMessage> CheckIpTunnel(const config::IpTunnelConfig& fields);

// The one character the file cannot carry in a name: the directive splits at the first ":".
inline constexpr EditorMessage kInstanceNameHasColon{
    MessageKind::Refusal,
    "The name of a proxy instance cannot contain a colon (:), please choose another name",
    "Cannot continue"};

}  // namespace tenvar::editor
