// What an HTTP session needs from the running program, handed to it by the service layer
// that owns these objects (they outlive every session).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "dialup/dial_manager.h"
#include "platform/exit_event.h"
#include "platform/unique_fd.h"

namespace tenvar::http {

// The names a LAN machine registered with.
struct LanClientNames {
  std::string MachineName;
  std::string IpAddress;
  std::string UserName;
};

inline constexpr std::chrono::milliseconds kSendStallLimit = std::chrono::seconds(120);

struct SessionContext {
  config::Configuration& Config;
  const platform::ExitEvent& Exit;
  dialup::DialManager& Dial;
  std::function<void(std::string_view)> LogEvent;
  std::mutex& LogLock;  // the event log's lock; request-log lines are written under it too
  std::atomic<std::uint32_t>& RequestCount;
  std::atomic<std::uint32_t>& CacheHitCount;
  std::atomic<std::int32_t>& CacheItemCount;
  std::atomic<double>& CacheSizeMB;
  std::function<std::optional<LanClientNames>(const std::string& ipAddress)> FindLanClient;
  // Takes a browser connection and its connected server connection for relaying.
  std::function<void(platform::UniqueFd browser, platform::UniqueFd server)> HandOverTunnel;
  std::function<bool()> SendAbuseAlert;
  // A send to the browser or the server that makes no progress for this long ends the
  // session: a peer that stops reading must not hold a thread and its sockets for ever.
  std::chrono::milliseconds SendStallLimit = kSendStallLimit;
};

}  // namespace tenvar::http
