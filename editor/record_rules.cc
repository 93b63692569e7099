#include "editor/record_rules.h"

#include <algorithm>

namespace tenvar::editor {

void DeriveFileNames(config::HttpProxyOptions& fields, const std::string& programDirectory) {
  const std::string stem = programDirectory + "/" + fields.Name;
  fields.BlockFile = stem + "_blk.ini";
  fields.UpstreamExclusions = stem + "_ue.ini";
  fields.CacheExclusions = stem + "_ce.ini";
  fields.AbuseKeywords = stem + "_kw.ini";
  fields.TrustedSites = stem + "_ts.ini";
  fields.RequestsLog = stem + "_rq.csv";
}

InstanceFieldsEnabled EnabledFields(const config::HttpProxyOptions& fields) {
  return {fields.UseCache,    fields.UseCache,    fields.UseUpstream,
          fields.UseUpstream, fields.UseUpstream, fields.AbuseDetection};
}

std::optional<EditorMessage> CheckProxyInstance(
    const config::HttpProxyOptions& fields, bool isNewInstance,
    const std::vector<config::HttpProxyOptions>& others) {
  if (fields.Name.empty()) return kInstanceNameMissing;
  // Saved as "<HTTPProxy a:b:8080>", such a name would read back as "a" on port 0.
  if (fields.Name.find(':') != std::string::npos) return kInstanceNameHasColon;
  if (fields.Port == 0) return kInstancePortMissing;
  if (fields.AdvancedBlocking && fields.BlockFile.empty()) return kBlockFileMissing;
  if (fields.UseUpstream && (fields.UpstreamProxyName.empty() || fields.UpstreamProxyPort == 0)) {
    return kUpstreamMissing;
  }
  if (isNewInstance && std::any_of(others.begin(), others.end(),
                                   [&](const auto& other) { return other.Port == fields.Port; })) {
    return kInstancePortTaken;
  }
  return std::nullopt;
}

std::optional<EditorMessage> CheckIpTunnel(const config::IpTunnelConfig& fields) {
  if (fields.Listen == 0) return kTunnelListenMissing;
  if (fields.Port == 0) return kTunnelPortMissing;
  if (fields.Server.empty()) return kTunnelServerMissing;
  return std::nullopt;
}

}  // namespace tenvar::editor
