#include "config/config_writer.h"

#include <string_view>

namespace tenvar::config {
namespace {

class LineWriter {
 public:
  void Text(std::string_view keyword, std::string_view value) {
    out_.append(keyword).append(" ").append(value).append("\n");
  }
  void TextIfSet(std::string_view keyword, std::string_view value) {
    if (!value.empty()) Text(keyword, value);
  }
  void Boolean(std::string_view keyword, bool value) { Text(keyword, value ? "Yes" : "No"); }
  void Number(std::string_view keyword, std::int32_t value) {
    Text(keyword, std::to_string(value));
  }
  void Raw(std::string_view text) { out_.append(text); }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

}  // namespace

std::string WriteConfiguration(const GlobalSettings& settings,
                               const std::vector<HttpProxyOptions>& proxies,
                               const std::vector<IpTunnelConfig>& tunnels) {
  LineWriter out;
  out.TextIfSet("PhonebookEntry", settings.PhonebookEntry);
  out.Boolean("Dial", settings.Dial);
  out.Number("Timeout", settings.Timeout);
  out.TextIfSet("Username", settings.Username);
  out.TextIfSet("Password", settings.Password);
  out.TextIfSet("LogFile", settings.LogFile);
  out.Number("FTPPort", settings.FTPPort);
  out.TextIfSet("CacheDir", settings.CacheDir);
  out.Boolean("LimitCache", settings.LimitCache);
  out.Number("CacheLimit", settings.CacheLimit);
  out.Number("CacheExpiry", settings.CacheExpiry);

  for (const HttpProxyOptions& proxy : proxies) {
    out.Raw("\n<HTTPProxy " + proxy.Name + ":" + std::to_string(proxy.Port) + ">\n");
    out.Boolean("  UseUpstream", proxy.UseUpstream);
    out.TextIfSet("  UpstreamProxyName", proxy.UpstreamProxyName);
    out.Number("  UpstreamProxyPort", proxy.UpstreamProxyPort);
    out.Boolean("  UseCache", proxy.UseCache);
    out.Boolean("  AlwaysGetNewest", proxy.AlwaysGetNewest);
    out.TextIfSet("  BlockFile", proxy.BlockFile);
    out.Boolean("  AdvancedBlocking", proxy.AdvancedBlocking);
    out.TextIfSet("  UpstreamExclusions", proxy.UpstreamExclusions);
    out.TextIfSet("  CacheExclusions", proxy.CacheExclusions);
    out.Boolean("  EnableLogging", proxy.EnableLogging);
    out.Boolean("  AbuseDetection", proxy.AbuseDetection);
    out.Text("  AbuseKeywords", proxy.AbuseKeywords);
    out.Text("  TrustedSites", proxy.TrustedSites);
    out.Text("  RequestsLog", proxy.RequestsLog);
    out.Raw("</HTTPProxy>\n");
  }

  for (const IpTunnelConfig& tunnel : tunnels) {
    out.Raw("\n<IPTunnel>\n");
    out.Number("  Listen", tunnel.Listen);
    out.Text("  Server", tunnel.Server);
    out.Number("  Port", tunnel.Port);
    out.Raw("</IPTunnel>\n");
  }
  return out.Take();
}

}  // namespace tenvar::config
