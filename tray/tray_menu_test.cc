#include "tray/tray_menu.h"

#include <gtest/gtest.h>

#include "tray/run_with_tray.h"

namespace tenvar::tray {
namespace {

using dialup::ConnectionState;

TEST(MenuEnabling, EveryDialAndStateCombination) {
  struct Case {
    bool Dial;
    ConnectionState State;
    MenuEnabling Expected;
  };
  const Case cases[] = {
      {false, ConnectionState::NotConnected, {false, false}},
      {false, ConnectionState::Connecting, {false, false}},
      {false, ConnectionState::Connected, {false, false}},
      {true, ConnectionState::NotConnected, {true, false}},
      {true, ConnectionState::Connecting, {false, true}},
      {true, ConnectionState::Connected, {false, true}},
  };
  for (const Case& c : cases) {
    const MenuEnabling got = MenuEnablingFor(c.Dial, c.State);
    EXPECT_EQ(got, c.Expected) << "dial " << c.Dial << " state " << static_cast<int>(c.State)
                               << ": connect " << got.Connect << " disconnect " << got.Disconnect;
  }
}

TEST(IconAction, RightButtonOpensMenuDoubleClickShowsDetailsOthersNothing) {
  EXPECT_EQ(IconActionFor(IconMouse::RightButtonUp), IconAction::OpenMenu);
  EXPECT_EQ(IconActionFor(IconMouse::LeftDoubleClick), IconAction::ShowDetails);
  EXPECT_EQ(IconActionFor(IconMouse::LeftClick), IconAction::None);
  EXPECT_EQ(IconActionFor(IconMouse::MiddleClick), IconAction::None);
}

TEST(EditorProgram, BesideTheProgramOrInTheCurrentDirectory) {
  EXPECT_EQ(EditorProgram("/opt/tenvar/bin"), "/opt/tenvar/bin/tenvarc");
  EXPECT_EQ(EditorProgram(""), "./tenvarc");
}

TEST(NoDisplayReason, NoSessionGivesAReasonAnySessionOrChosenPlatformIsTried) {
  struct Case {
    const char* X11;
    const char* Wayland;
    const char* Platform;
    bool Tried;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, false},    {"", "", "", false},
      {":0", nullptr, nullptr, true},        {nullptr, "wayland-0", nullptr, true},
      {nullptr, nullptr, "offscreen", true},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> reason = NoDisplayReason(c.X11, c.Wayland, c.Platform);
    EXPECT_EQ(!reason.has_value(), c.Tried) << reason.value_or("tried");
  }
  EXPECT_EQ(NoDisplayReason(nullptr, nullptr, nullptr),
            "no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set)");
}

}  // namespace
}  // namespace tenvar::tray
