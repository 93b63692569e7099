// Start-up and shut-down of the real program.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "platform/text.h"
#include "tests/e2e/tenvar_process.h"

namespace tenvar::e2e {
namespace {

constexpr const char* kStartLine = "Tenvar started - v1.2 build 1 on 17/04/2000";

TEST(Startup, LogsTheStartLineRefusesASecondCopyAndStopsOnSigterm) {
  platform::TempDir dir;
  const std::string log = dir.File("logs/office.log");
  std::filesystem::create_directories(dir.File("logs"));
  const std::string ini =
      dir.Write("office.ini", "LogFile " + log + "\nCacheDir " + dir.File("cache") + "\n");
  TenvarProcess tenvar(dir, {ini});
  ASSERT_TRUE(tenvar.WaitForConsole(kStartLine)) << tenvar.Stderr();

  const std::vector<std::string> lines = platform::SplitLines(platform::ReadFileText(log));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      lines[0],
      std::regex(
          R"(\d\d/\d\d/\d{4} @ \d\d:\d\d:\d\d - Tenvar started - v1\.2 build 1 on 17/04/2000)")))
      << lines[0];
  EXPECT_EQ(platform::ReadFileText(dir.File("config/Lindqvale/Configure")), "Tenvar=" + ini + "\n");

  TenvarProcess second(dir, {ini}, "second");
  EXPECT_EQ(second.Child().WaitFor(5s), 1);
  EXPECT_EQ(second.Stderr(), "");
  EXPECT_FALSE(second.WaitForConsole(kStartLine, 100ms));

  ASSERT_TRUE(tenvar.Child().Signal(SIGTERM));
  EXPECT_EQ(tenvar.Child().WaitFor(2s), 0);
  EXPECT_EQ(platform::SplitLines(platform::ReadFileText(log)).size(), 1u);
}

TEST(Startup, LoaderMessagesGoToStandardErrorAndTheLogAndLoadingGoesOn) {
  platform::TempDir dir;
  const std::string log = dir.File("Tenvar.log");
  const std::string ini = dir.Write("Tenvar.ini", "UseCache Yes\n</IPTunnel>\nLogFile " + log +
                                                      "\n<HTTPProxy A:1>\n</HTTPProxy>\n");
  TenvarProcess tenvar(dir, {ini});
  ASSERT_TRUE(tenvar.WaitForConsole(kStartLine)) << tenvar.Stderr();
  const std::string first = "Cannot process option: UseCache needs to be in a HTTPProxy directive";
  const std::string second =
      "Cannot process directive \"/IPTunnel\": Must be in IPTunnel directive in order to "
      "terminate it";
  EXPECT_EQ(tenvar.Stderr(), first + "\n" + second + "\n");
  const std::string logged = platform::ReadFileText(log);
  EXPECT_NE(logged.find(" - " + first + "\n"), std::string::npos) << logged;
  EXPECT_NE(logged.find(" - " + second + "\n"), std::string::npos) << logged;
  EXPECT_LT(logged.find(second), logged.find(kStartLine));
  ASSERT_TRUE(tenvar.Child().Signal(SIGINT));
  EXPECT_EQ(tenvar.Child().WaitFor(2s), 0);
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
