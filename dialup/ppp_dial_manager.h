// Dial on demand over a Remote Access layer: keeps the connection state in step with it,
// starts one dial at a time when a request needs the line, follows the dial's progress in the
// tray and the dialling status window, and hangs the line up when asked or after Timeout idle
// minutes. Thread-safe: session threads, the timer thread and the user interface all call it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "dialup/dial_manager.h"
#include "dialup/dial_progress.h"
#include "dialup/dial_status_view.h"
#include "dialup/remote_access.h"
#include "dialup/tray_view.h"

namespace tenvar::dialup {

class PppDialManager : public DialManager {
 public:
  using LogFunction = std::function<void(std::string_view)>;

  // The settings (Dial, Timeout, PhonebookEntry, Username, Password) are read from `config`
  // each time they are needed. The views and the log must outlive the manager; the tray is
  // given its start-up presentation here.
  PppDialManager(const config::Configuration& config, std::unique_ptr<RemoteAccess> remote,
                 TrayView& tray, DialStatusView& statusView, LogFunction logEvent);
  PppDialManager(const PppDialManager&) = delete;
  PppDialManager& operator=(const PppDialManager&) = delete;
  // Hangs up a line of ours still up and waits for its dialler to end.
  ~PppDialManager() override;

  bool CheckConnected() override;
  void EnsureConnected() override;
  void ResetIdleTimer() override;
  void HangUp() override;
  void OnDisconnected() override;
  void Tick() override;

  // Seconds before the idle hang-up, and whether that countdown runs at all.
  std::uint32_t IdleSecondsLeft() const;
  bool IdleCountdownRunning() const;
  // What the dialling status window shows or last showed.
  std::string DialStatusText() const;
  bool StatusWindowShown() const;
  std::vector<std::string> PhonebookEntries() const { return remote_->PhonebookEntries(); }

 private:
  void OnProgress(std::uint64_t dial, const DialProgress& progress);
  // Logs, ends our dialler and drops the notifications of its dial. Needs dialLock_, not lock_.
  void HangUpLine();
  // The following need lock_.
  void ShowTrayLocked(const TrayPresentation& presentation);
  void SetStatusTextLocked(std::string_view text);
  void CloseStatusWindowLocked();
  void SetNotConnectedLocked();
  void StartCountdownLocked();

  const config::Configuration& config_;
  std::unique_ptr<RemoteAccess> remote_;
  TrayView& tray_;
  DialStatusView& statusView_;
  const LogFunction log_;

  // Lock order: dialLock_, then lock_. The Remote Access layer is never called under lock_,
  // as its notifications take lock_ on their own thread.
  std::mutex dialLock_;  // serialises starting, hanging up and the idle hang-up
  mutable std::mutex lock_;
  std::uint64_t dial_ = 0;      // the dial whose notifications count; others are stale
  std::uint64_t changes_ = 0;   // counts state changes, so a check can tell it raced one
  bool dialling_ = false;       // a dial has started and neither connected nor ended
  bool statusWindowShown_ = false;
  std::string dialStatusText_;
  std::optional<TrayPresentation> shownTray_;
  bool idleRunning_ = false;
  std::uint32_t idleSecondsLeft_ = 0;
};

}  // namespace tenvar::dialup
