// A stand-in for the running program behind the tray windows: counters set by the test, and
// the commands counted instead of run.
#pragma once

#include <string>

#include "tray/tray_services.h"

namespace tenvar::tray {

class FakeServices : public TrayServices {
 public:
  DetailsInput Details() override { return Input; }
  cache::CacheStatistics::History CacheHistory() override { return History; }
  bool Dial() override { return Input.Dial; }
  dialup::ConnectionState State() override { return Input.State; }
  std::string DialStatusText() override { return StatusText; }
  void Connect() override { ++Connects; }
  void Disconnect() override { ++Disconnects; }
  void Tick() override { ++Ticks; }
  void Exit() override { ++Exits; }

  DetailsInput Input;  // its Dial and State answer Dial() and State() too
  cache::CacheStatistics::History History{};
  std::string StatusText;
  int Connects = 0;
  int Disconnects = 0;
  int Exits = 0;
  int Ticks = 0;
};

}  // namespace tenvar::tray
