// The tray as the running program's user interface: message boxes, the icon and the dialling
// status window, the log console, and the counters and commands handed over while the
// services run. Created and destroyed on the GUI thread; its UserInterface calls come from
// any thread.
#pragma once

#include "service/user_interface.h"
#include "tray/hidden_wnd.h"
#include "tray/screen_messages.h"
#include "tray/tray_services.h"

namespace tenvar::tray {

class TrayFrontEnd : public service::UserInterface {
 public:
  explicit TrayFrontEnd(CHiddenWnd::Paths paths);
  // Lets a thread still waiting on a message box go on.
  ~TrayFrontEnd() override { messages_.Release(); }

  config::MessageSink& Messages() override { return messages_; }
  dialup::TrayView& Tray() override { return window_; }
  dialup::DialStatusView& DialStatus() override { return window_; }
  void LogLine(std::string_view line) override { window_.LogLine(line); }
  // CHiddenWnd's statistics timer ticks the services.
  bool RunsTimers() const override { return true; }
  // The icon and the splash appear once the program really runs: a second copy, a missing
  // configuration file or one the loader refuses end the program without either.
  void ServicesRunning(service::RunningServices& running) override;
  void ServicesStopping() override { services_.Attach(nullptr); }

  // Asks the services to stop (also when they have not yet started) and releases every
  // thread waiting on a message box.
  void StopServices() {
    services_.Exit();
    messages_.Release();
  }

  CHiddenWnd& Window() { return window_; }

 private:
  LiveServices services_;
  ScreenMessages messages_;
  CHiddenWnd window_;
};

}  // namespace tenvar::tray
