// CProxyApp is the process-wide state every thread of the running program reaches: the
// configuration, the event log, the exit event and the counters. It is created once by the
// start-up code and outlives every service thread, which are handed what they need of it.
//
// Thread-safety: the configuration publishes immutable snapshots (see config/configuration.h);
// the counters are atomic; the live-record lists added by the services carry their own locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "platform/exit_event.h"
#include "service/event_log.h"
#include "service/headless_messages.h"

namespace tenvar::service {

class CProxyApp {
 public:
  CProxyApp(std::string configFilePath, std::string programDirectory);
  CProxyApp(const CProxyApp&) = delete;
  CProxyApp& operator=(const CProxyApp&) = delete;
  virtual ~CProxyApp() = default;

  EventLog Log;
  HeadlessMessages Messages;
  config::Configuration Config;
  platform::ExitEvent ExitEvent;

  std::atomic<std::uint32_t> RequestCount{0};
  std::atomic<std::uint32_t> CacheHitCount{0};
  std::atomic<std::int32_t> CacheItemCount{0};
  std::atomic<double> CacheSizeMB{0.0};
};

}  // namespace tenvar::service
