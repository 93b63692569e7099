// The main program with its tray: decides whether a screen with a system tray is there, and
// if so runs the services on a thread of their own while the GUI thread serves the tray.
// Otherwise, or with --headless, the program runs exactly as it does without a screen.
#pragma once

#include <optional>
#include <string>

namespace tenvar::tray {

// Why no icon can be shown in this environment, before Qt is started; nothing when a display
// is worth trying.
std::optional<std::string> NoDisplayReason(const char* x11Display, const char* waylandDisplay,
                                           const char* qpaPlatform);

int RunWithTray(int argc, char** argv);

}  // namespace tenvar::tray
