#include "tray/tray_menu.h"

namespace tenvar::tray {

MenuEnabling MenuEnablingFor(bool dial, dialup::ConnectionState state) {
  if (!dial) return {false, false};
  const bool down = state == dialup::ConnectionState::NotConnected;
  return {down, !down};
}

IconAction IconActionFor(IconMouse mouse) {
  switch (mouse) {
    case IconMouse::RightButtonUp:
      return IconAction::OpenMenu;
    case IconMouse::LeftDoubleClick:
      return IconAction::ShowDetails;
    case IconMouse::LeftClick:
    case IconMouse::MiddleClick:
      break;
  }
  return IconAction::None;
}

std::string EditorProgram(const std::string& programDirectory) {
  if (programDirectory.empty()) return "./tenvarc";
  return programDirectory + "/tenvarc";
}

}  // namespace tenvar::tray
