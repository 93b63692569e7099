// How the dial-up state reaches the tray icon: an icon resource and a tip per situation, shown
// through TrayView. The dial manager calls ShowStatus from any thread, only when the
// presentation changes and while holding its own lock: implementations must return promptly
// (a window system queues the change to its own thread) and must not call the manager back.
#pragma once

#include <functional>
#include <string_view>

namespace tenvar::dialup {

inline constexpr int kIconConnected = 142;
inline constexpr int kIconConnecting = 132;
inline constexpr int kIconNotConnected = 143;

struct TrayPresentation {
  int IconId = kIconConnected;
  std::string_view Tip;

  bool operator==(const TrayPresentation&) const = default;
};

// Before the first check, and for good while dial on demand is off.
inline constexpr TrayPresentation kTrayStartUp{kIconConnected, "Tenvar - permanently connected"};
inline constexpr TrayPresentation kTrayConnecting{kIconConnecting, "Tenvar - Connecting"};
inline constexpr TrayPresentation kTrayConnected{kIconConnected, "Tenvar - Connected"};
inline constexpr TrayPresentation kTrayNotConnected{kIconNotConnected, "Tenvar - Not connected"};

class TrayView {
 public:
  virtual ~TrayView() = default;
  virtual void ShowStatus(int iconId, std::string_view tip) = 0;
};

// Without a screen: each new tip goes to `log` (when one is given), or nowhere.
class HeadlessTrayView : public TrayView {
 public:
  explicit HeadlessTrayView(std::function<void(std::string_view)> log = {})
      : log_(std::move(log)) {}
  void ShowStatus(int, std::string_view tip) override {
    if (log_) log_(tip);
  }

 private:
  std::function<void(std::string_view)> log_;
};

}  // namespace tenvar::dialup
