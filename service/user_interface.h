// What a screen front-end (the tray) offers the running program, and what the program gives it
// back while its services run. Without one the program runs headless: messages go to standard
// error and the event log, the dial-up state only to the log. Qt-free on purpose: the front-end
// implements this on its own side and hops to its GUI thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "cache/cache_statistics.h"
#include "config/message_sink.h"
#include "dialup/dial_status_view.h"
#include "dialup/ppp_dial_manager.h"
#include "dialup/tray_view.h"

namespace tenvar::service {

class CProxyApp;

// Valid from ServicesRunning until ServicesStopping returns; every member is thread-safe.
struct RunningServices {
  CProxyApp& App;
  dialup::PppDialManager& Dial;
  const cache::CacheStatistics& Statistics;
  // Open browser connections plus FTP proxy sessions; tunnel links do not count.
  std::function<std::size_t()> ConnectionCount;
  // The one-second tick: the dial-up check, the idle countdown and the cache history sample.
  std::function<void()> Tick;
};

// Every member may be called from any thread and must return promptly, except
// Messages().ShowMessage, which may block the calling thread (only that one) until OK.
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual config::MessageSink& Messages() = 0;
  virtual dialup::TrayView& Tray() = 0;
  virtual dialup::DialStatusView& DialStatus() = 0;
  // Every event-log line as it is written, with its time prefix and line end.
  virtual void LogLine(std::string_view line) = 0;
  // True: the front-end calls RunningServices::Tick once a second itself, and the program
  // starts no timer thread of its own.
  virtual bool RunsTimers() const { return false; }
  virtual void ServicesRunning(RunningServices& running) = 0;
  // After this returns the front-end no longer touches what ServicesRunning gave it.
  virtual void ServicesStopping() = 0;
};

struct StartOptions {
  UserInterface* Screen = nullptr;  // null: headless
  // Logged after the start line when there is no screen: why no icon is shown.
  std::string NoScreenReason;
};

}  // namespace tenvar::service
