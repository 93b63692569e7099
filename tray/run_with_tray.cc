#include "tray/run_with_tray.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "service/command_line.h"
#include "service/startup.h"
#include "tray/tray_front_end.h"

namespace tenvar::tray {

std::optional<std::string> NoDisplayReason(const char* x11Display, const char* waylandDisplay,
                                           const char* qpaPlatform) {
  const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
  // A platform chosen by hand (offscreen in tests, say) is the user's word that it can work.
  if (!set(x11Display) && !set(waylandDisplay) && !set(qpaPlatform)) {
    return "no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set)";
  }
  return std::nullopt;
}

int RunWithTray(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const service::CommandLine commandLine = service::ParseCommandLine(arguments);
  // Asked for: the log needs no word on why there is no icon.
  if (commandLine.Headless) return service::RunTenvar(arguments);
  if (auto reason = NoDisplayReason(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                    std::getenv("QT_QPA_PLATFORM"))) {
    return service::RunTenvar(arguments, {nullptr, *reason});
  }

  std::string noTray;
  {
    // A display that cannot be reached must not end the program: fall back to offscreen and
    // find that it has no tray.
    const bool platformChosen = std::getenv("QT_QPA_PLATFORM") != nullptr;
    if (!platformChosen) ::setenv("QT_QPA_PLATFORM", "xcb;wayland;offscreen", 1);
    QApplication application(argc, argv);
    // Not for the editor we start: it makes its own choice.
    if (!platformChosen) ::unsetenv("QT_QPA_PLATFORM");
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("tenvar"));
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
      const std::string programDirectory = platform::ProgramDirectory();
      TrayFrontEnd frontEnd({programDirectory, commandLine.ConfigFile.empty()
                                                   ? programDirectory + "/Tenvar.ini"
                                                   : platform::FullPath(commandLine.ConfigFile)});
      int status = 0;
      std::jthread services([&] {
        status = service::RunTenvar(arguments, {&frontEnd, {}});
        QMetaObject::invokeMethod(&application, &QApplication::quit, Qt::QueuedConnection);
      });
      application.exec();
      // Normally the services have ended already and quit the loop. Should the desktop end
      // it first (a log-out), they are told to stop, and a box still waiting lets go.
      frontEnd.StopServices();
      services.join();
      return status;
    }
    noTray = application.platformName() == QLatin1String("offscreen")
                 ? "the display could not be opened"
                 : "the desktop has no system tray";
  }
  return service::RunTenvar(arguments, {nullptr, noTray});
}

}  // namespace tenvar::tray
