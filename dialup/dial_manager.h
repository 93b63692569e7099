// The dial-on-demand line as the proxy sees it: is the Internet connection up, start
// dialling when it is not, and keep the idle hang-up from firing while traffic flows.
// Thread-safe: every session thread calls it.
#pragma once

#include <atomic>
#include <cstdint>

namespace tenvar::dialup {

enum class ConnectionState : std::uint32_t { NotConnected = 0, Connecting = 1, Connected = 2 };

class DialManager {
 public:
  virtual ~DialManager() = default;

  // Looks at the active connections and records the state; true when one is up.
  virtual bool CheckConnected() = 0;
  // Starts dialling when no connection is up and returns at once.
  virtual void EnsureConnected() = 0;
  // Restarts the idle countdown after traffic.
  virtual void ResetIdleTimer() = 0;

  // Hangs up the line this program dialled.
  virtual void HangUp() {}
  // The user's Disconnect (tray menu, or Cancel in the dialling status window): hangs up and
  // shows the not-connected state.
  virtual void OnDisconnected() {}
  // Called once a second by the program's timer thread: keeps the state honest and counts the
  // idle time down.
  virtual void Tick() {}

  ConnectionState State() const { return state_; }

 protected:
  std::atomic<ConnectionState> state_{ConnectionState::NotConnected};
};

// A machine without any dial-up program: never connected, and dialling does nothing.
class NoDialManager : public DialManager {
 public:
  bool CheckConnected() override { return false; }
  void EnsureConnected() override {}
  void ResetIdleTimer() override {}
};

}  // namespace tenvar::dialup
