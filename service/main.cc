// tenvar: shares one Internet connection among the machines of a small office. With the tray
// built in it shows an icon when the desktop has a system tray, and runs headless otherwise.
#include <string>
#include <vector>

#ifdef TENVAR_WITH_TRAY
#include "tray/run_with_tray.h"
#else
#include "service/command_line.h"
#include "service/startup.h"
#endif

int main(int argc, char** argv) {
#ifdef TENVAR_WITH_TRAY
  return tenvar::tray::RunWithTray(argc, argv);
#else
  // --headless asks for no icon; otherwise the log says why there is none.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (tenvar::service::ParseCommandLine(arguments).Headless) {
    return tenvar::service::RunTenvar(arguments);
  }
  return tenvar::service::RunTenvar(arguments, {nullptr, "built without the tray"});
#endif
}
