#include "service/command_line.h"

#include <gtest/gtest.h>

namespace tenvar::service {
namespace {

TEST(ParseCommandLine, TheLastNonOptionNamesTheFileAndOptionsStartWithADash) {
  const CommandLine line = ParseCommandLine({"-x", "/etc/tenvar/conf1.ini", "--console",
                                             "conf2.ini", "--unknown", "--headless"});
  EXPECT_EQ(line.ConfigFile, "conf2.ini");
  EXPECT_TRUE(line.Console);
  EXPECT_TRUE(line.Headless);

  const CommandLine absolute = ParseCommandLine({"-x", "/y"});
  EXPECT_EQ(absolute.ConfigFile, "/y");  // an absolute path is a file, not an option
  EXPECT_FALSE(absolute.Console);

  EXPECT_EQ(ParseCommandLine({"-only"}).ConfigFile, "");
}

}  // namespace
}  // namespace tenvar::service
