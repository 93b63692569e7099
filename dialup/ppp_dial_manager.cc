#include "dialup/ppp_dial_manager.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace tenvar::dialup {

PppDialManager::PppDialManager(const config::Configuration& config,
                               std::unique_ptr<RemoteAccess> remote, TrayView& tray,
                               DialStatusView& statusView, LogFunction logEvent)
    : config_(config),
      remote_(std::move(remote)),
      tray_(tray),
      statusView_(statusView),
      log_(std::move(logEvent)) {
  std::lock_guard guard(lock_);
  ShowTrayLocked(kTrayStartUp);
}

PppDialManager::~PppDialManager() {
  {
    std::lock_guard guard(lock_);
    ++dial_;  // what the dialler still reports from here on is of no interest
  }
  remote_.reset();
}

bool PppDialManager::CheckConnected() {
  if (!remote_->Available()) return false;
  std::uint64_t seen = 0;
  {
    std::lock_guard guard(lock_);
    seen = changes_;
  }
  const bool up = remote_->HasConnection();
  std::lock_guard guard(lock_);
  // A notification or hang-up that came in while we looked is newer than what we saw.
  if (changes_ != seen) return state_ == ConnectionState::Connected;
  if (up) {
    state_ = ConnectionState::Connected;
    ShowTrayLocked(kTrayConnected);
    return true;
  }
  if (dialling_) {
    // A dial in progress is no connection, but the tray keeps showing that it is under way.
    state_ = ConnectionState::Connecting;
    return false;
  }
  SetNotConnectedLocked();
  return false;
}

void PppDialManager::EnsureConnected() {
  if (!remote_->Available()) return;
  if (CheckConnected()) return;
  std::lock_guard dialGuard(dialLock_);
  const std::shared_ptr<const config::GlobalSettings> settings = config_.Settings.Load();
  std::uint64_t dial = 0;
  {
    std::lock_guard guard(lock_);
    // Whoever started the dial under way, or completed one meanwhile, has done the work.
    if (dialling_ || state_ == ConnectionState::Connected) return;
    dialling_ = true;
    dial = ++dial_;
    ++changes_;
    state_ = ConnectionState::Connecting;
    idleRunning_ = false;
    ShowTrayLocked(kTrayConnecting);
  }
  log_("Connecting to Internet, using " + settings->PhonebookEntry);
  const int error = remote_->Dial(
      {settings->PhonebookEntry, settings->Username, settings->Password},
      [this, dial](const DialProgress& progress) { OnProgress(dial, progress); });
  if (error == 0) return;
  log_("Error connecting to Internet (" + std::to_string(error) + ")");
  std::lock_guard guard(lock_);
  if (dial != dial_) return;
  ++dial_;
  dialling_ = false;
  SetNotConnectedLocked();
}

void PppDialManager::ResetIdleTimer() {
  std::lock_guard guard(lock_);
  StartCountdownLocked();
}

void PppDialManager::HangUp() {
  if (!remote_->Available()) return;
  std::lock_guard dialGuard(dialLock_);
  HangUpLine();
  std::lock_guard guard(lock_);
  dialling_ = false;
}

void PppDialManager::OnDisconnected() {
  if (!remote_->Available()) return;
  std::lock_guard dialGuard(dialLock_);
  {
    std::lock_guard guard(lock_);
    SetStatusTextLocked(*dialup::DialStatusText(DialStep::Disconnected));
  }
  HangUpLine();
  std::lock_guard guard(lock_);
  dialling_ = false;
  SetNotConnectedLocked();
  CloseStatusWindowLocked();
}

void PppDialManager::Tick() {
  if (config_.Settings.Load()->Dial) CheckConnected();
  std::lock_guard dialGuard(dialLock_);
  {
    std::lock_guard guard(lock_);
    if (!idleRunning_) return;
    if (idleSecondsLeft_ > 0) --idleSecondsLeft_;
    if (idleSecondsLeft_ > 0) return;
    idleRunning_ = false;
  }
  HangUpLine();
  std::lock_guard guard(lock_);
  dialling_ = false;
  SetNotConnectedLocked();
  CloseStatusWindowLocked();
}

std::uint32_t PppDialManager::IdleSecondsLeft() const {
  std::lock_guard guard(lock_);
  return idleSecondsLeft_;
}

bool PppDialManager::IdleCountdownRunning() const {
  std::lock_guard guard(lock_);
  return idleRunning_;
}

std::string PppDialManager::DialStatusText() const {
  std::lock_guard guard(lock_);
  return dialStatusText_;
}

bool PppDialManager::StatusWindowShown() const {
  std::lock_guard guard(lock_);
  return statusWindowShown_;
}

void PppDialManager::OnProgress(std::uint64_t dial, const DialProgress& progress) {
  std::lock_guard guard(lock_);
  if (dial != dial_) return;
  switch (progress.Step) {
    case DialStep::Connected:
      ++changes_;
      dialling_ = false;
      SetStatusTextLocked(*dialup::DialStatusText(DialStep::Connected));
      CloseStatusWindowLocked();
      state_ = ConnectionState::Connected;
      StartCountdownLocked();
      ShowTrayLocked(kTrayConnected);
      return;
    case DialStep::Disconnected:
      ++dial_;
      if (dialling_) {
        // The dial failed part-way. Its last text stays in the status window, where the user
        // sees how far it got, until Cancel or the next dial.
        log_("Error connecting to Internet (" + std::to_string(progress.Error) + ")");
        dialling_ = false;
        SetNotConnectedLocked();
        return;
      }
      // The line dropped.
      SetStatusTextLocked(*dialup::DialStatusText(DialStep::Disconnected));
      log_("Disconnecting from Internet");
      SetNotConnectedLocked();
      CloseStatusWindowLocked();
      return;
    default:
      // After the dial has connected, pppd goes on talking; that is no dial progress.
      if (!dialling_) return;
      if (!statusWindowShown_) {
        statusView_.Open();
        statusWindowShown_ = true;
      }
      if (std::optional<std::string_view> text = dialup::DialStatusText(progress.Step)) {
        SetStatusTextLocked(*text);
      }
      return;
  }
}

void PppDialManager::HangUpLine() {
  {
    // Before the dialler is told: its end may be reported at once and is no dropped line.
    std::lock_guard guard(lock_);
    ++dial_;
    ++changes_;
  }
  log_("Disconnecting from Internet");
  remote_->HangUp();
}

void PppDialManager::ShowTrayLocked(const TrayPresentation& presentation) {
  if (shownTray_ == presentation) return;
  shownTray_ = presentation;
  tray_.ShowStatus(presentation.IconId, presentation.Tip);
}

void PppDialManager::SetStatusTextLocked(std::string_view text) {
  dialStatusText_ = text;
  if (statusWindowShown_) statusView_.SetText(text);
}

void PppDialManager::CloseStatusWindowLocked() {
  if (!statusWindowShown_) return;
  statusView_.Close();
  statusWindowShown_ = false;
}

void PppDialManager::SetNotConnectedLocked() {
  ++changes_;
  state_ = ConnectionState::NotConnected;
  ShowTrayLocked(kTrayNotConnected);
  // The countdown belongs to the line that is gone; it must not hang up a later one early.
  idleRunning_ = false;
}

void PppDialManager::StartCountdownLocked() {
  const std::shared_ptr<const config::GlobalSettings> settings = config_.Settings.Load();
  if (!settings->Dial || state_ != ConnectionState::Connected) return;
  if (settings->Timeout <= 0) {
    idleRunning_ = false;  // no idle hang-up
    return;
  }
  const std::int64_t seconds = static_cast<std::int64_t>(settings->Timeout) * 60;
  idleSecondsLeft_ = static_cast<std::uint32_t>(
      std::min<std::int64_t>(seconds, std::numeric_limits<std::uint32_t>::max()));
  idleRunning_ = true;
}

}  // namespace tenvar::dialup
