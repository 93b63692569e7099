// The tray icon's popup menu as decisions, apart from the widgets that show it: which entries
// a click may choose, and what the icon's mouse actions mean. The widgets only follow these.
#pragma once

#include <string>

#include "dialup/dial_manager.h"

namespace tenvar::tray {

// The commands behind the menu entries; the numbers are the menu's command ids.
enum class TrayCommand {
  ShowDetails = 59411,
  LaunchEditor = 32773,
  ToggleLogConsole = 32776,
  Connect = 32775,
  Disconnect = 32777,
  Exit = 32772,
};

// Connect and Disconnect are the only entries ever greyed.
struct MenuEnabling {
  bool Connect = false;
  bool Disconnect = false;
  bool operator==(const MenuEnabling&) const = default;
};

// The state read at the moment of the click decides; with dial on demand off neither applies.
MenuEnabling MenuEnablingFor(bool dial, dialup::ConnectionState state);

// What a mouse action on the icon does: the menu, the details window, or nothing.
enum class IconAction { None, OpenMenu, ShowDetails };
enum class IconMouse { RightButtonUp, LeftDoubleClick, LeftClick, MiddleClick };
IconAction IconActionFor(IconMouse mouse);

// The editor lives beside the program and is given the configuration file in use, so that
// a Tenvar started on another file edits that one.
std::string EditorProgram(const std::string& programDirectory);

}  // namespace tenvar::tray
