#include "tray/tray_menu.h"

#include <gtest/gtest.h>

#include "tray/run_with_tray.h"

namespace tenvar::tray {
namespace {

TEST(EditorProgram, BesideTheProgramOrInTheCurrentDirectory) {
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
