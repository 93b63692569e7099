// CHiddenWnd is the program's invisible centre on the GUI thread: it owns the tray icon and
// its menu, the one-second timer of the dial-up check, idle countdown and cache history, the
// details window, the dialling status window and the log console, and runs the menu's
// commands. Service threads reach it only through TrayView and DialStatusView, whose
// calls are queued to the GUI thread; everything else here runs on the GUI thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>

#include "dialup/dial_status_view.h"
#include "dialup/tray_view.h"
#include "tray/tray_menu.h"

class QMenu;

namespace tenvar::tray {

class DetailsWindow;
class DialStatusWindow;
class LogConsole;
class TrayServices;

class CHiddenWnd : public QObject, public dialup::TrayView, public dialup::DialStatusView {
  Q_OBJECT

 public:
  static constexpr int kTickMilliseconds = 1000;

  struct Paths {
    std::string ProgramDirectory;  // where the editor is looked for
    std::string ConfigFilePath;    // the configuration file in use, handed to the editor
  };

  CHiddenWnd(TrayServices& services, Paths paths, QObject* parent = nullptr);
  ~CHiddenWnd() override;

  // Puts the icon in the tray with its start-up picture and tip.
  void ShowIcon();
  QSystemTrayIcon& Icon() { return icon_; }

  // Any thread.
  void ShowStatus(int iconId, std::string_view tip) override;
  void Open() override;
  void SetText(std::string_view text) override;
  void Close() override;
  // Any thread: hands an event-log line to the console, when it is open.
  void LogLine(std::string_view line);

  // A fresh popup menu with the default entry and the enabling rules of this moment; the
  // caller owns it. Each action carries its TrayCommand as data.
  std::unique_ptr<QMenu> BuildMenu();
  void RunCommand(TrayCommand command);
  void OnIconActivated(QSystemTrayIcon::ActivationReason reason);

  void ShowDetails();
  void LaunchEditor();
  void ToggleLogConsole();

  bool DetailsOpen() const { return detailsOpen_; }
  bool ConsoleOpen() const { return consoleOpen_; }
  int IconId() const { return iconId_; }
  DetailsWindow* Details() { return details_.get(); }
  DialStatusWindow* DialStatus() { return dialStatus_.get(); }
  LogConsole* Console() { return console_.get(); }

 signals:
  // The editor was started (true) or could not be (false); nothing is shown either way.
  void EditorLaunched(bool started);

 private:
  TrayServices& services_;
  const Paths paths_;
  QSystemTrayIcon icon_;
  QTimer statistics_;
  int iconId_ = dialup::kIconConnected;
  std::unique_ptr<QMenu> menu_;  // the menu being shown, kept until the next one
  std::unique_ptr<DetailsWindow> details_;
  bool detailsOpen_ = false;
  std::unique_ptr<DialStatusWindow> dialStatus_;
  std::unique_ptr<LogConsole> console_;
  std::atomic<bool> consoleOpen_{false};  // read by logging threads
};

}  // namespace tenvar::tray
