// Start-up and shut-down of the real program.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "platform/text.h"
#include "tests/e2e/tenvar_process.h"

namespace tenvar::e2e {
namespace {

constexpr const char* kStartLine = "Tenvar started - v1.2 build 1 on 17/04/2000";

// Loader messages go to standard error and the log, and loading goes on.
TEST(Startup, LogsLoaderMessagesAndTheStartLineRefusesASecondCopyAndStopsOnASignal) {
  platform::TempDir dir;
  const std::string log = dir.File("logs/office.log");
  std::filesystem::create_directories(dir.File("logs"));
  const std::string ini = dir.Write("office.ini", "UseCache Yes\n</IPTunnel>\nLogFile " + log +
                                                      "\nCacheDir " + dir.File("cache") + "\n");
  TenvarProcess tenvar(dir, {ini});
  ASSERT_TRUE(tenvar.WaitForConsole(kStartLine)) << tenvar.Stderr();
  const std::string first = "Cannot process option: UseCache needs to be in a HTTPProxy directive";
  const std::string second =
      "Cannot process directive \"/IPTunnel\": Must be in IPTunnel directive in order to "
      "terminate it";
  EXPECT_EQ(tenvar.Stderr(), first + "\n" + second + "\n");
  const std::vector<std::string> lines = platform::SplitLines(platform::ReadFileText(log));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].ends_with(" - " + first)) << lines[0];
  EXPECT_TRUE(lines[1].ends_with(" - " + second)) << lines[1];
  EXPECT_TRUE(std::regex_match(
      lines[2],
      std::regex(
          R"(\d\d/\d\d/\d{4} @ \d\d:\d\d:\d\d - Tenvar started - v1\.2 build 1 on 17/04/2000)")))
      << lines[2];
  EXPECT_EQ(platform::ReadFileText(dir.File("config/Lindqvale/Configure")), "Tenvar=" + ini + "\n");

  TenvarProcess copy(dir, {ini}, "copy");
  EXPECT_EQ(copy.Child().WaitFor(5s), 1);
  EXPECT_EQ(copy.Stderr(), "");
  EXPECT_FALSE(copy.WaitForConsole(kStartLine, 100ms));

  ASSERT_TRUE(tenvar.Child().Signal(SIGTERM));
  EXPECT_EQ(tenvar.Child().WaitFor(2s), 0);
  EXPECT_EQ(platform::SplitLines(platform::ReadFileText(log)).size(), 3u);
  TenvarProcess again(dir, {ini}, "again");
  ASSERT_TRUE(again.WaitForConsole(kStartLine)) << again.Stderr();
  ASSERT_TRUE(again.Child().Signal(SIGINT));
  EXPECT_EQ(again.Child().WaitFor(2s), 0);
}

TEST(Startup, AMissingFileOrAProxyDirectiveWithoutAColonEndsTheProgram) {
  const struct {
    const char* Ini;  // nothing: the file is not there
    const char* Stderr;
  } kCases[] = {
      {nullptr,
       "Initialisation error: Initialisation file cannot be found, supply it as a command line "
       "argument or make sure it is in the same directory as the Tenvar executable.\n"},
      {"<HTTPProxy Office 8080>\n",
       "Cannot create HTTP proxy: Incorrect format for HTTPProxy directive, see documentation\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Stderr);
    platform::TempDir dir;
    const std::string log = dir.File("Tenvar.log");
    const std::string ini = c.Ini == nullptr
                                ? dir.File("absent.ini")
                                : dir.Write("Tenvar.ini", "LogFile " + log + "\n" + c.Ini);
    TenvarProcess tenvar(dir, {ini});
    EXPECT_EQ(tenvar.Child().WaitFor(5s), 1);
    EXPECT_EQ(tenvar.Stderr(), c.Stderr);
    EXPECT_EQ(platform::ReadFileText(log).find(kStartLine), std::string::npos);
  }
}

}  // namespace
}  // namespace tenvar::e2e
