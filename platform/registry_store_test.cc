#include "platform/registry_store.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/temp_dir.h"

namespace tenvar::platform {
namespace {

TEST(RegistryStore, CreatesTheKeyAndReplacesOnlyItsOwnValue) {
  TempDir home;
  ::setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
  const std::string file = home.File("Lindqvale/Configure");
  EXPECT_EQ(RegistryKeyPath("Lindqvale/Configure"), file);

  ASSERT_TRUE(WriteRegistryValue("Lindqvale/Configure", "Tenvar", "/a/Tenvar.ini"));
  home.Write("Lindqvale/Configure", ReadFileText(file) + "Other=kept\n");
  ASSERT_TRUE(WriteRegistryValue("Lindqvale/Configure", "Tenvar", "/b/Tenvar.ini"));

  EXPECT_EQ(ReadFileText(file), "Other=kept\nTenvar=/b/Tenvar.ini\n");
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST(RegistryStore, ReportsAFailureInsteadOfThrowing) {
  TempDir home;
  home.Write("blocker", "a file where a directory should be");
  ::setenv("XDG_CONFIG_HOME", home.File("blocker").c_str(), 1);
  EXPECT_FALSE(WriteRegistryValue("Lindqvale/Configure", "Tenvar", "/x"));
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace tenvar::platform
