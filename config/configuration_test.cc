#include "config/configuration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "config/config_test_support.h"

namespace tenvar::config {
namespace {

using Lines = std::vector<std::string>;

// Every case also shows the load-time defaults beside the program.
TEST(LoadConfiguration, GlobalValuesFollowTheLineGrammar) {
  const struct {
    const char* line;
    bool dial;
    std::int32_t timeout;
    std::int32_t expiry;
  } cases[] = {
      {"dial yes", true, 5, 7},
      {"DIAL ON", true, 5, 7},
      {"Dial 1", true, 5, 7},
      {"Dial true", false, 5, 7},
      {"Dial 01", false, 5, 7},
      {"Dial Y", false, 5, 7},
      {"Dial", false, 5, 7},
      {"Dial=Yes", true, 5, 7},
      {"TimeoutX 5", false, 5, 7},
      {"Timeout 12", false, 12, 7},
      {"   # Timeout 9", false, 5, 7},
      {"; Dial Yes", false, 5, 7},
      {"'Dial Yes", false, 5, 7},
      {"CacheExpiry 7days", false, 5, 7},
      {"CacheExpiry abc", false, 5, 0},
      {"\tCacheExpiry   -3  \r", false, 5, -3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    LoadedConfiguration loaded(std::string(c.line) + "\n");
    ASSERT_TRUE(LoadConfiguration(loaded.configuration));
    const GlobalSettings settings = *loaded.configuration.Settings.Load();
    EXPECT_EQ(settings.Dial, c.dial);
    EXPECT_EQ(settings.Timeout, c.timeout);
    EXPECT_EQ(settings.CacheExpiry, c.expiry);
    EXPECT_TRUE(loaded.messages.Lines().empty());
    EXPECT_EQ(settings.CacheDir, loaded.dir.Path() + "/cache");
    EXPECT_EQ(settings.LogFile, loaded.dir.Path() + "/Tenvar.log");
    EXPECT_EQ(settings.TempDir, loaded.dir.Path() + "/Temp");
    EXPECT_EQ(settings.PhonebookEntry, "provider");
  }
}

// Directives with the same name in any case and the same port make one instance, and a tunnel
// listed twice is one tunnel.
TEST(LoadConfiguration, InstanceAndTunnelOptionsFollowTheLineGrammarAndSkipDuplicates) {
  LoadedConfiguration loaded(
      "<HTTPProxy Office : 8080 >\n"
      "  UseCache=Yes\n"
      "  AlwaysGetNewestYes\n"  // the "Y" is skipped: "es" is not true
      "  AbuseDetection=Yes\n"  // the value is "=Yes"
      "  EnableLogging   on  \n"
      "  UpstreamProxyName  proxy.example  \n"
      "  UpstreamProxyPort 3128\n"
      "  RequestsLog /var/log/my requests.csv\n"
      "  Debug 1\n"
      "  LogFile /tmp/inside.log\n"  // a global option inside a directive stays global
      "</HTTPProxy>\n"
      "<HTTPProxy Lab:1>\nUseCache Yes\nAbuseDetectionYes\n</HTTPProxy>\n"
      "<HTTPProxy lab:1>\nUseCache No\n</HTTPProxy>\n"
      "<HTTPProxy lab:2>\n</HTTPProxy>\n"
      "<IPTunnel>\nListen 2525\nServer mail.example\nPort 25\n</IPTunnel>\n"
      "<IPTunnel>\nListen 2526\nServer mail.example\nPortable 1\n</IPTunnel>\n"
      "<IPTunnel>\nListen 2525\nServer mail.example\nPort 25\n</IPTunnel>\n");
  ASSERT_TRUE(LoadConfiguration(loaded.configuration));
  ASSERT_EQ(loaded.Proxies().size(), 3u);
  const HttpProxyOptions options = loaded.Options(0);
  EXPECT_EQ(options.Name, "Office ");
  EXPECT_EQ(options.Port, 8080);
  EXPECT_TRUE(options.UseCache);
  EXPECT_FALSE(options.AlwaysGetNewest);
  EXPECT_FALSE(options.AbuseDetection);
  EXPECT_TRUE(options.EnableLogging);
  EXPECT_EQ(options.UpstreamProxyName, "proxy.example");
  EXPECT_EQ(options.UpstreamProxyPort, 3128);
  EXPECT_EQ(options.RequestsLog, "/var/log/my requests.csv");
  EXPECT_TRUE(options.Debug);
  EXPECT_EQ(loaded.configuration.Settings.Load()->LogFile, "/tmp/inside.log");
  EXPECT_EQ(loaded.Options(1).Name, "lab");
  EXPECT_FALSE(loaded.Options(1).UseCache);
  EXPECT_TRUE(loaded.Options(1).AbuseDetection);
  EXPECT_EQ(loaded.Options(2).Port, 2);
  EXPECT_EQ(*loaded.configuration.IpTunnels.Load(),
            (std::vector<IpTunnelConfig>{{25, "mail.example", 2525}, {0, "mail.example", 2526}}));
}

TEST(LoadConfiguration, ReportsEveryMisplacedLineAndGoesOn) {
  const std::string option = "Cannot process option: ";
  const std::string directive = "Cannot process directive: ";
  std::string text;
  Lines expected;
  for (const char* name : {"UseUpstream", "UpstreamProxyName", "UpstreamProxyPort", "UseCache",
                           "AlwaysGetNewest", "BlockFile", "AdvancedBlocking", "UpstreamExclusions",
                           "CacheExclusions", "EnableLogging", "Debug"}) {
    text += std::string(name) + " x\n";
    expected.push_back(option + name + " needs to be in a HTTPProxy directive");
  }
  // These four are ignored outside a directive without a word.
  text += "RequestsLog x\nAbuseDetection Yes\nAbuseKeywords x\nTrustedSites x\n";
  LoadedConfiguration loaded(
      text +
      "Listen 1\nServer x\nPort 80\n</IPTunnel>\n</HTTPProxy>\n"
      "<HTTPProxy A:1>\nUseCache Yes\n<HTTPProxy B:2>\nEnableLogging Yes\n</HTTPProxy>\n"
      "</HTTPProxy>\n"
      "<IPTunnel>\n<IPTunnel>\nListen 5\n</IPTunnel>\n"
      "Timeout 9\n");
  ASSERT_TRUE(LoadConfiguration(loaded.configuration));
  expected.insert(
      expected.end(),
      {option + "Listen option must be in an IPTunnel directive",
       option + "Server option must be in an IPTunnel directive",
       option + "Port option must be in an IPTunnel directive",
       "Cannot process directive \"/IPTunnel\": Must be in IPTunnel directive in order to "
       "terminate it",
       directive + "Not currently in a HTTPProxy directive, cannot terminate it",
       directive + "Cannot have nested HTTPProxy directives",
       directive + "Not currently in a HTTPProxy directive, cannot terminate it",
       directive + "Cannot have nested IPTunnel directives, check configuration"});
  EXPECT_EQ(loaded.messages.Lines(), expected);
  // The nested line was ignored: its options went to the first instance.
  ASSERT_EQ(loaded.Proxies().size(), 1u);
  EXPECT_EQ(loaded.Options(0).Name, "A");
  EXPECT_TRUE(loaded.Options(0).UseCache);
  EXPECT_TRUE(loaded.Options(0).EnableLogging);
  ASSERT_EQ(loaded.configuration.IpTunnels.Load()->size(), 1u);
  EXPECT_EQ(loaded.configuration.IpTunnels.Load()->front().Listen, 5);
  EXPECT_EQ(loaded.configuration.Settings.Load()->Timeout, 9);
}

TEST(LoadConfiguration, AProxyLineWithoutAColonStopsReadingAndFails) {
  LoadedConfiguration loaded(
      "Timeout 3\n<HTTPProxy Office:8080>\n</HTTPProxy>\n"
      "<HTTPProxy Broken 8081>\nTimeout 4\n<HTTPProxy Late:1>\n</HTTPProxy>\n");
  EXPECT_FALSE(LoadConfiguration(loaded.configuration));  // its message is the start-up test's
  EXPECT_EQ(loaded.messages.Lines().size(), 1u);
  ASSERT_EQ(loaded.Proxies().size(), 1u);
  EXPECT_EQ(loaded.Options(0).Name, "Office");
  EXPECT_EQ(loaded.configuration.Settings.Load()->Timeout, 3);
}

// The file is looked at no more than once a second. An instance left open is dropped when new
// and keeps what it read when known.
TEST(CheckConfigurationChanged, RereadsANewTimeOnceASecondUpdatingRecordsInPlaceOrReportsARefusal) {
  LoadedConfiguration loaded(
      "CacheDir /srv/cache\nTimeout 9\n"
      "<HTTPProxy Office:8080>\nUseCache Yes\nEnableLogging Yes\n</HTTPProxy>\n"
      "<IPTunnel>\nListen 2525\nServer mail\nPort 25\n</IPTunnel>\n");
  platform::SetLastWriteTime(loaded.path, 10 * kSecond);
  ASSERT_TRUE(LoadConfiguration(loaded.configuration));
  const std::shared_ptr<HttpProxyConfig> office = loaded.Proxies().at(0);
  const auto settingsBefore = loaded.configuration.Settings.Load();

  // Unchanged time: nothing is read, not even a changed file.
  const std::chrono::steady_clock::time_point start{std::chrono::hours(1)};
  WriteAt(loaded.dir, "Tenvar.ini", "Timeout 1\n", 10 * kSecond);
  CheckConfigurationChangedIfDue(loaded.configuration, start);
  EXPECT_EQ(loaded.configuration.Settings.Load(), settingsBefore);

  // The UseCache line is gone: the running instance keeps the value it had.
  WriteAt(loaded.dir, "Tenvar.ini",
          "<HTTPProxy OFFICE:8080>\nEnableLogging No\n</HTTPProxy>\n"
          "<HTTPProxy Lab:8081>\n</HTTPProxy>\n"
          "<IPTunnel>\nListen 2525\nServer mail\nPort 25\n</IPTunnel>\n<HTTPProxy New:1>\n",
          20 * kSecond);
  CheckConfigurationChangedIfDue(loaded.configuration, start + std::chrono::milliseconds(999));
  EXPECT_EQ(loaded.configuration.ConfigFileTime(), 10 * kSecond);
  CheckConfigurationChangedIfDue(loaded.configuration, start + std::chrono::seconds(1));
  EXPECT_EQ(loaded.configuration.ConfigFileTime(), 20 * kSecond);

  ASSERT_EQ(loaded.Proxies().size(), 2u);
  EXPECT_EQ(loaded.Proxies().at(0), office);
  EXPECT_EQ(office->Options()->Name, "OFFICE");
  EXPECT_TRUE(office->Options()->UseCache);
  EXPECT_FALSE(office->Options()->EnableLogging);
  EXPECT_EQ(loaded.Options(1).Name, "Lab");
  EXPECT_EQ(loaded.configuration.IpTunnels.Load()->size(), 1u);
  const GlobalSettings settings = *loaded.configuration.Settings.Load();
  EXPECT_EQ(settings.Timeout, 9);                              // absent: kept
  EXPECT_EQ(settings.CacheDir, loaded.dir.Path() + "/cache");  // absent: default again

  WriteAt(loaded.dir, "Tenvar.ini", "<HTTPProxy Office:8080>\nEnableLogging Yes\n", 30 * kSecond);
  CheckConfigurationChanged(loaded.configuration);
  EXPECT_EQ(loaded.Proxies().size(), 2u);
  EXPECT_TRUE(office->Options()->EnableLogging);

  // A FIFO is treated as missing; its time is kept, so it is reported once, not at every check.
  std::filesystem::remove(loaded.path);
  ASSERT_EQ(::mkfifo(loaded.path.c_str(), 0600), 0);
  ASSERT_TRUE(platform::SetLastWriteTime(loaded.path, 77 * kSecond));
  CheckConfigurationChanged(loaded.configuration);
  CheckConfigurationChanged(loaded.configuration);
  EXPECT_EQ(loaded.configuration.ConfigFileTime(), 77 * kSecond);
  EXPECT_EQ(loaded.messages.Lines(),
            Lines{"Cannot read configuration: " + loaded.path +
                  " is not a regular file of at most 16 MiB; it is treated as missing"});
  EXPECT_EQ(loaded.Proxies().size(), 2u);
}

TEST(CheckConfigurationChanged, ConcurrentRereadsNeverShowReadersAHalfAppliedFile) {
  // Each version sets every value to the same number n; a reader that sees two different
  // numbers in one instance, or a global set that disagrees, has caught a re-read midway.
  auto version = [](int n) {
    const std::string v = std::to_string(n);
    return "Timeout " + v + "\nCacheLimit " + v + "\nCacheDir /c" + v +
           "\n"
           "<HTTPProxy Office:8080>\nUpstreamProxyPort " +
           v + "\nUpstreamProxyName h" + v + "\nRequestsLog r" + v + "\n</HTTPProxy>\n";
  };
  LoadedConfiguration loaded(version(0));
  ASSERT_TRUE(LoadConfiguration(loaded.configuration));
  const std::shared_ptr<HttpProxyConfig> office = loaded.Proxies().at(0);

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      while (!done) {
        CheckConfigurationChanged(loaded.configuration);
        office->RefreshListFiles(loaded.configuration);
        const auto settings = loaded.configuration.Settings.Load();
        const std::string n = std::to_string(settings->Timeout);
        if (std::to_string(settings->CacheLimit) != n || settings->CacheDir != "/c" + n) ++torn;
        const auto options = office->Options();
        const std::string p = std::to_string(options->UpstreamProxyPort);
        if (options->UpstreamProxyName != "h" + p || options->RequestsLog != "r" + p) ++torn;
        if (loaded.Proxies().size() != 1) ++torn;
      }
    });
  }
  for (int n = 1; n <= 150; ++n) {
    // The file itself is replaced whole, so any tearing seen is the loader's.
    std::filesystem::rename(WriteAt(loaded.dir, "next.ini", version(n), n * kSecond), loaded.path);
  }
  done = true;
  for (std::thread& thread : threads) thread.join();
  CheckConfigurationChanged(loaded.configuration);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(loaded.configuration.Settings.Load()->Timeout, 150);
  EXPECT_TRUE(loaded.messages.Lines().empty());
}

}  // namespace
}  // namespace tenvar::config
