#include "config/http_proxy_config.h"

#include "config/configuration.h"

namespace tenvar::config {

bool HttpProxyConfig::RefreshListFiles(Configuration& configuration,
                                       ListFile::Clock::time_point now) {
  CheckConfigurationChangedIfDue(configuration, now);
  const std::shared_ptr<const HttpProxyOptions> options = Options();
  UpstreamExclusionsList.RefreshIfDue(options->UpstreamExclusions, now);
  CacheExclusionsList.RefreshIfDue(options->CacheExclusions, now);
  AbuseKeywordsList.RefreshIfDue(options->AbuseKeywords, now);
  TrustedSitesList.RefreshIfDue(options->TrustedSites, now);
  return true;
}

void HttpProxyConfig::ReportTo(MessageSink& messages) {
  UpstreamExclusionsList.ReportTo(&messages);
  CacheExclusionsList.ReportTo(&messages);
  AbuseKeywordsList.ReportTo(&messages);
  TrustedSitesList.ReportTo(&messages);
  Blocking.ReportTo(&messages);
}

}  // namespace tenvar::config
