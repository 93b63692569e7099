// The configuration of one program: the global options, the HTTP proxy instances and the
// IP tunnels read from the configuration file, and the loader that fills them.
//
// Thread-safety: the main program reads the file at start-up and again on any session
// thread that notices a new last-write time. reloadLock_ lets one load run at a time. The
// loader works on private copies and publishes each value (Settings, each instance's
// options, the two lists) whole when the file has been read, so a reader sees every value
// either as it was or as it is now, never half replaced. Records are never removed, so a
// reader may keep using one it has found.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/global_settings.h"
#include "config/http_proxy_config.h"
#include "config/ip_tunnel_config.h"
#include "config/message_sink.h"
#include "config/snapshot.h"
#include "platform/file_time.h"

namespace tenvar::config {

class Configuration {
 public:
  using HttpProxyList = std::vector<std::shared_ptr<HttpProxyConfig>>;
  using IpTunnelList = std::vector<IpTunnelConfig>;

  // programDirectory: where the load-time defaults of CacheDir, LogFile and TempDir lie.
  // defaultPhonebookEntry: asked at each load for the PhonebookEntry default.
  Configuration(std::string configFilePath, std::string programDirectory, MessageSink& messages,
                std::function<std::string()> defaultPhonebookEntry = {});

  const std::string ConfigFilePath;
  const std::string ProgramDirectory;

  Snapshot<GlobalSettings> Settings;
  Snapshot<HttpProxyList> HttpProxies;
  Snapshot<IpTunnelList> IpTunnels;

  platform::FileTime ConfigFileTime() const { return configFileTime_.load(); }

 private:
  friend class ConfigurationReader;
  friend bool LoadConfiguration(Configuration&);
  friend bool CheckConfigurationChanged(Configuration&);
  friend bool CheckConfigurationChangedIfDue(Configuration&, std::chrono::steady_clock::time_point);

  MessageSink& messages_;
  std::function<std::string()> defaultPhonebookEntry_;
  std::mutex reloadLock_;
  std::atomic<platform::FileTime> configFileTime_{0};
  // steady_clock ticks before which CheckConfigurationChangedIfDue does not look again
  std::atomic<std::chrono::steady_clock::rep> nextCheck_{
      std::numeric_limits<std::chrono::steady_clock::rep>::min()};
};

// Reads the configuration file into `configuration`. True when the file was read to its end
// or could not be opened; false after a <HTTPProxy line without ":" (reported first).
bool LoadConfiguration(Configuration& configuration);

// Reads the file again when its last-write time differs from the one of the last load.
// Always false; callers ignore the result.
bool CheckConfigurationChanged(Configuration& configuration);

// CheckConfigurationChanged at most once per second of `now`: sessions arriving in between
// pay one atomic load instead of a stat.
bool CheckConfigurationChangedIfDue(Configuration& configuration,
                                    std::chrono::steady_clock::time_point now);

}  // namespace tenvar::config
