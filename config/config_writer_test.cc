#include "config/config_writer.h"

#include <gtest/gtest.h>

#include "config/config_test_support.h"

namespace tenvar::config {
namespace {

TEST(WriteConfiguration, LaysOutGlobalsInstancesAndTunnelsInOrder) {
  GlobalSettings settings;
  settings.Dial = true;
  settings.Username = "office";
  settings.FTPPort = 1021;
  HttpProxyOptions proxy;
  proxy.Name = "Office";
  proxy.Port = 8080;
  proxy.UseCache = true;
  proxy.Debug = true;
  const std::string text = WriteConfiguration(settings, {proxy}, {{25, "mail.example", 2525}});
  EXPECT_EQ(text,
            "Dial Yes\nTimeout 5\nUsername office\nFTPPort 1021\nLimitCache No\nCacheLimit 0\n"
            "CacheExpiry 7\n"
            "\n<HTTPProxy Office:8080>\n  UseUpstream No\n  UpstreamProxyPort 0\n"
            "  UseCache Yes\n  AlwaysGetNewest No\n  AdvancedBlocking No\n"
            "  EnableLogging No\n  AbuseDetection No\n  AbuseKeywords \n  TrustedSites \n"
            "  RequestsLog \n</HTTPProxy>\n"
            "\n<IPTunnel>\n  Listen 2525\n  Server mail.example\n  Port 25\n</IPTunnel>\n");
}

TEST(WriteConfiguration, ReadsBackToTheValuesItWasWrittenFrom) {
  LoadedConfiguration loaded("");
  GlobalSettings settings;
  settings.PhonebookEntry = "office-isdn";
  settings.Dial = true;
  settings.Timeout = -3;
  settings.Username = "user name";
  settings.Password = "p@ss word";
  settings.FTPPort = 1021;
  settings.CacheDir = "/srv/tenvar cache";
  settings.LimitCache = true;
  settings.CacheLimit = 512;
  settings.CacheExpiry = 0;
  settings.LogFile = "/var/log/tenvar.log";
  settings.TempDir = loaded.dir.Path() + "/Temp";

  HttpProxyOptions full;
  full.Name = "Front Office";
  full.Port = 8080;
  full.UseUpstream = full.UseCache = full.AlwaysGetNewest = full.AdvancedBlocking = true;
  full.EnableLogging = full.AbuseDetection = true;
  full.UpstreamProxyName = "squid.lan";
  full.UpstreamProxyPort = 3128;
  full.BlockFile = loaded.dir.File("block rules.txt");
  full.UpstreamExclusions = "/etc/tenvar/direct.txt";
  full.CacheExclusions = "/etc/tenvar/nocache.txt";
  full.RequestsLog = "/var/log/front.csv";
  full.AbuseKeywords = "/etc/tenvar/words.txt";
  full.TrustedSites = "/etc/tenvar/trusted.txt";
  HttpProxyOptions bare;
  bare.Name = "Lab";
  bare.Port = 8081;
  bare.Debug = true;  // never written, so it reads back false
  const std::vector<IpTunnelConfig> tunnels = {{25, "mail.example", 2525}, {110, "10.0.0.2", 1110}};

  loaded.dir.Write("Tenvar.ini", WriteConfiguration(settings, {full, bare}, tunnels));
  ASSERT_TRUE(LoadConfiguration(loaded.configuration));
  EXPECT_TRUE(loaded.messages.Lines().empty());
  EXPECT_EQ(*loaded.configuration.Settings.Load(), settings);
  ASSERT_EQ(loaded.Proxies().size(), 2u);
  EXPECT_EQ(loaded.Options(0), full);
  bare.Debug = false;
  EXPECT_EQ(loaded.Options(1), bare);
  EXPECT_EQ(*loaded.configuration.IpTunnels.Load(), tunnels);
}

TEST(WriteConfiguration, EmptyTextsReadBackAsTheirLoadTimeDefaults) {
  LoadedConfiguration loaded("");
  loaded.dir.Write("Tenvar.ini", WriteConfiguration(GlobalSettings{}, {}, {}));
  ASSERT_TRUE(LoadConfiguration(loaded.configuration));
  const GlobalSettings settings = *loaded.configuration.Settings.Load();
  EXPECT_EQ(settings.CacheDir, loaded.dir.Path() + "/cache");
  EXPECT_EQ(settings.LogFile, loaded.dir.Path() + "/Tenvar.log");
  EXPECT_EQ(settings.PhonebookEntry, "provider");
  EXPECT_EQ(settings.Username, "");
}

}  // namespace
}  // namespace tenvar::config
