#include "tray/tray_menu.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tenvar::tray
