// The dialling status window: opened at the first progress of a dial, showing the status text,
// closed when the dial completes, is cancelled or the line drops. Its Cancel button calls
// DialManager::OnDisconnected. The dial manager calls these from any thread while holding its
// own lock: implementations must return promptly and must not call the manager back.
#pragma once

#include <functional>
#include <string_view>

namespace tenvar::dialup {

inline constexpr std::string_view kDialStatusCaption = "Tenvar connection status";

class DialStatusView {
 public:
  virtual ~DialStatusView() = default;
  virtual void Open() = 0;
  virtual void SetText(std::string_view text) = 0;
  virtual void Close() = 0;
};

// Without a screen: each status text goes to `log` (when one is given), or nowhere.
class HeadlessDialStatusView : public DialStatusView {
 public:
  explicit HeadlessDialStatusView(std::function<void(std::string_view)> log = {})
      : log_(std::move(log)) {}
  void Open() override {}
  void SetText(std::string_view text) override {
    if (log_) log_(text);
  }
  void Close() override {}

 private:
  std::function<void(std::string_view)> log_;
};

}  // namespace tenvar::dialup
