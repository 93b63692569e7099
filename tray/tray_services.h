// What the tray needs of the running program, as one small interface: the counters the
// details window shows and the commands of the menu. LiveServices serves it from the running
// services; tests give the windows a stand-in.
#pragma once

#include <mutex>
#include <string>

#include "cache/cache_statistics.h"
#include "dialup/dial_manager.h"
#include "service/user_interface.h"
#include "tray/details_fields.h"

namespace tenvar::tray {

class TrayServices {
 public:
  virtual ~TrayServices() = default;
  virtual DetailsInput Details() = 0;
  virtual cache::CacheStatistics::History CacheHistory() = 0;
  virtual bool Dial() = 0;
  virtual dialup::ConnectionState State() = 0;
  virtual std::string DialStatusText() = 0;
  virtual void Connect() = 0;
  virtual void Disconnect() = 0;
  // The one-second tick of the dial-up check, idle countdown and cache history.
  virtual void Tick() = 0;
  // Starts the shut-down; the program ends once its services have stopped.
  virtual void Exit() = 0;
};

// Over the running services, between ServicesRunning and ServicesStopping; before and after,
// it shows zeros and the commands do nothing (an Exit chosen early is kept until the services
// run). Thread-safe.
class LiveServices : public TrayServices {
 public:
  void Attach(service::RunningServices* running);

  DetailsInput Details() override;
  cache::CacheStatistics::History CacheHistory() override;
  bool Dial() override;
  dialup::ConnectionState State() override;
  std::string DialStatusText() override;
  void Connect() override;
  void Disconnect() override;
  void Tick() override;
  void Exit() override;

 private:
  std::mutex lock_;  // guards running_ and exitRequested_, and keeps running_ alive while used
  service::RunningServices* running_ = nullptr;
  bool exitRequested_ = false;
};

}  // namespace tenvar::tray
