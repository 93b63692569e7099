#include "editor/editor_start.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tenvar::editor {
namespace {

TEST(EditorFiles, TheNamedFileElseTheOneBesideTheProgramAndHelpInTheHelpFolderBesideIt) {
  struct Case {
    std::vector<std::string> arguments;
    std::string expected;
  };
  const std::string here = std::filesystem::current_path().string();
  const Case cases[] = {
      {{}, "/opt/tenvar/Tenvar.ini"},
      {{"/etc/tenvar/office.ini"}, "/etc/tenvar/office.ini"},
      {{"relative.ini"}, here + "/relative.ini"},
      {{"--verbose"}, "/opt/tenvar/Tenvar.ini"},
      {{"first.ini", "-x", "/srv/last.ini"}, "/srv/last.ini"},
      {{""}, "/opt/tenvar/Tenvar.ini"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EditedFilePath("/opt/tenvar", c.arguments), c.expected)
        << testing::PrintToString(c.arguments);
  }
  EXPECT_EQ(EditedFilePath("", {}), "Tenvar.ini");
  // Beside a named program directory the dialog test opens it.
  EXPECT_EQ(HelpPagePath(""), "./help/tenvarc.html");
}

}  // namespace
}  // namespace tenvar::editor
