// One HTTP proxy instance: its options, its four list files and its block list. Records
// are created by the loader, live in Configuration::HttpProxies until the program ends, and
// are shared by every session of the instance.
//
// Thread-safety: Options() returns an immutable snapshot; the loader publishes a new one
// whole when a re-read changes the instance. The lists and the block list guard themselves.
#pragma once

#include <memory>

#include "config/block_list.h"
#include "config/http_proxy_options.h"
#include "config/list_file.h"
#include "config/snapshot.h"

namespace tenvar::config {

class Configuration;

class HttpProxyConfig {
 public:
  HttpProxyConfig() = default;
  explicit HttpProxyConfig(HttpProxyOptions options) : options_(std::move(options)) {}
  HttpProxyConfig(const HttpProxyConfig&) = delete;
  HttpProxyConfig& operator=(const HttpProxyConfig&) = delete;
  virtual ~HttpProxyConfig() = default;

  std::shared_ptr<const HttpProxyOptions> Options() const { return options_.Load(); }
  void SetOptions(HttpProxyOptions options) { options_.Store(std::move(options)); }

  // Lets the configuration file be re-read when it changed, then brings the four lists up
  // to date. Called at the start of every browser connection of the instance; each file is
  // looked at no more than once per ListFile::kRefreshInterval of `now`.
  bool RefreshListFiles(Configuration& configuration,
                        ListFile::Clock::time_point now = ListFile::Clock::now());

  // Where the lists and the block list report a file they refuse to read.
  void ReportTo(MessageSink& messages);

  ListFile UpstreamExclusionsList;
  ListFile CacheExclusionsList;
  ListFile AbuseKeywordsList;
  ListFile TrustedSitesList;
  BlockList Blocking;

 private:
  Snapshot<HttpProxyOptions> options_;
};

}  // namespace tenvar::config
