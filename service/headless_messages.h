// Messages for the user when there is no screen: one line "<caption>: <text>" on standard
// error and the same line in the event log; the program then goes on as if OK was pressed.
#pragma once

#include <atomic>
#include <mutex>

#include "config/message_sink.h"
#include "service/event_log.h"

namespace tenvar::service {

class HeadlessMessages : public config::MessageSink {
 public:
  explicit HeadlessMessages(EventLog& log) : log_(log) {}
  void ShowMessage(std::string_view text, std::string_view caption) override;
  // With a screen, messages are shown there (and still logged) instead of on standard error.
  void SetScreen(config::MessageSink* screen) { screen_ = screen; }

 private:
  EventLog& log_;
  std::mutex stderrLock_;  // keeps lines from several threads whole on standard error
  std::atomic<config::MessageSink*> screen_{nullptr};
};

}  // namespace tenvar::service
