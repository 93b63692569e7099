#include "tray/tray_services.h"

#include "service/proxy_app.h"

namespace tenvar::tray {

void LiveServices::Attach(service::RunningServices* running) {
  std::lock_guard guard(lock_);
  running_ = running;
  if (running_ != nullptr && exitRequested_) running_->App.ExitEvent.Signal();
}

DetailsInput LiveServices::Details() {
  std::lock_guard guard(lock_);
  if (running_ == nullptr) return {};
  service::CProxyApp& app = running_->App;
  const auto settings = app.Config.Settings.Load();
  DetailsInput input;
  input.Connections = running_->ConnectionCount();
  input.CacheSizeMB = app.CacheSizeMB;
  input.CacheItemCount = app.CacheItemCount;
  input.IdleSecondsLeft = running_->Dial.IdleSecondsLeft();
  input.CacheHitCount = app.CacheHitCount;
  input.RequestCount = app.RequestCount;
  input.Dial = settings->Dial;
  input.PhonebookEntry = settings->PhonebookEntry;
  input.State = running_->Dial.State();
  return input;
}

cache::CacheStatistics::History LiveServices::CacheHistory() {
  std::lock_guard guard(lock_);
  if (running_ == nullptr) return {};
  return running_->Statistics.CacheHistory();
}

bool LiveServices::Dial() {
  std::lock_guard guard(lock_);
  return running_ != nullptr && running_->App.Config.Settings.Load()->Dial;
}

dialup::ConnectionState LiveServices::State() {
  std::lock_guard guard(lock_);
  return running_ == nullptr ? dialup::ConnectionState::NotConnected : running_->Dial.State();
}

std::string LiveServices::DialStatusText() {
  std::lock_guard guard(lock_);
  return running_ == nullptr ? std::string() : running_->Dial.DialStatusText();
}

void LiveServices::Connect() {
  std::lock_guard guard(lock_);
  if (running_ != nullptr) running_->Dial.EnsureConnected();
}

void LiveServices::Disconnect() {
  std::lock_guard guard(lock_);
  if (running_ != nullptr) running_->Dial.OnDisconnected();
}

void LiveServices::Tick() {
  std::lock_guard guard(lock_);
  if (running_ != nullptr) running_->Tick();
}

void LiveServices::Exit() {
  std::lock_guard guard(lock_);
  exitRequested_ = true;
  if (running_ != nullptr) running_->App.ExitEvent.Signal();
}

}  // namespace tenvar::tray
