#include "platform/registry_store.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/temp_dir.h"

namespace tenvar::platform {
namespace {

TEST(RegistryStore, CreatesTheKeyReplacesOnlyItsOwnValueAndReportsAFailureWithoutThrowing) {
  TempDir home;
  ::setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
  const std::string file = home.File("Lindqvale/Configure");
  EXPECT_EQ(RegistryKeyPath("Lindqvale/Configure"), file);

  ASSERT_TRUE(WriteRegistryValue("Lindqvale/Configure", "Tenvar", "/a/Tenvar.ini"));
  home.Write("Lindqvale/Configure", ReadFileText(file) + "Other=kept\n");
  ASSERT_TRUE(WriteRegistryValue("Lindqvale/Configure", "Tenvar", "/b/Tenvar.ini"));
  EXPECT_EQ(ReadFileText(file), "Other=kept\nTenvar=/b/Tenvar.ini\n");

  // A file where the directory should be.
  ::setenv("XDG_CONFIG_HOME", file.c_str(), 1);
  EXPECT_FALSE(WriteRegistryValue("Lindqvale/Configure", "Tenvar", "/x"));
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace tenvar::platform
