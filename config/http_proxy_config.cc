#include "config/http_proxy_config.h"

#include "config/configuration.h"

namespace tenvar::config {

bool HttpProxyConfig::RefreshListFiles(Configuration& configuration) {
  CheckConfigurationChanged(configuration);
  const std::shared_ptr<const HttpProxyOptions> options = Options();
  UpstreamExclusionsList.Refresh(options->UpstreamExclusions);
  CacheExclusionsList.Refresh(options->CacheExclusions);
  AbuseKeywordsList.Refresh(options->AbuseKeywords);
  TrustedSitesList.Refresh(options->TrustedSites);
  return true;
}

}  // namespace tenvar::config
