#include "config/config_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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

size_t EntriesIn(const std::string& folder) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

// The file is replaced whole, nothing else is left behind, and the saved file's mode (and,
// when root saves it, its owner) is its own when it existed; a new one holding a password is
// private.
TEST(SaveConfigurationFile, ReplacesTheFileWholeKeepingItsModeOrMakingItPrivate) {
  struct Case {
    const char* name;
    int existingMode;  // -1: no file yet
    const char* password;
    unsigned expected;
  };
  const Case cases[] = {
      {"new without password", -1, "", 0644},
      {"new with password", -1, "secret", 0600},
      {"existing group-readable", 0640, "secret", 0640},
      {"existing world-readable", 0644, "", 0644},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::TempDir dir;
    const std::string path = dir.File("Tenvar.ini");
    // Only root can give a file to another user.
    const bool givenAway = c.existingMode >= 0 && ::geteuid() == 0;
    if (c.existingMode >= 0) {
      dir.Write("Tenvar.ini", "Dial Yes\n# a comment the editor drops\n");
      ::chmod(path.c_str(), static_cast<mode_t>(c.existingMode));
    }
    if (givenAway) {
      ASSERT_EQ(::chown(path.c_str(), 12345, 23456), 0);
    }
    GlobalSettings settings;
    settings.Password = c.password;
    ASSERT_TRUE(SaveConfigurationFile(path, settings, {}, {{1, "s", 2}}).Ok());
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.expected);
    if (givenAway) {
      EXPECT_EQ(status.st_uid, 12345u);
      EXPECT_EQ(status.st_gid, 23456u);
    }
    EXPECT_EQ(platform::ReadFileText(path), WriteConfiguration(settings, {}, {{1, "s", 2}}));
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
  }
}

// Failures leave the previous file exactly as it was and say which step failed and why.
TEST(SaveConfigurationFile, FailuresKeepThePreviousFile) {
  struct Case {
    const char* name;
    const char* file;  // inside the test folder
    int fileMode;      // mode of an existing Tenvar.ini; -1: none
    SaveOutcome::Failure failed;
    int error;
  };
  const Case cases[] = {
      {"read-only file", "Tenvar.ini", 0444, SaveOutcome::Failure::Open, EACCES},
      {"missing folder", "gone/Tenvar.ini", -1, SaveOutcome::Failure::Open, ENOENT},
      {"path is a folder", "folder", -1, SaveOutcome::Failure::Open, EISDIR},
  };
  for (const Case& c : cases) {
    platform::TempDir dir;
    std::filesystem::create_directory(dir.File("folder"));
    const std::string before = "Dial Yes\n";
    const std::string existing = dir.Write("Tenvar.ini", before);
    if (c.fileMode >= 0) ::chmod(existing.c_str(), static_cast<mode_t>(c.fileMode));
    const SaveOutcome outcome = SaveConfigurationFile(dir.File(c.file), GlobalSettings{}, {}, {});
    EXPECT_EQ(outcome.Failed, c.failed) << c.name;
    EXPECT_EQ(outcome.Error, c.error) << c.name;
    EXPECT_EQ(platform::ReadFileText(existing), before) << c.name;
    EXPECT_EQ(EntriesIn(dir.Path()), 2u) << c.name;  // no temporary file left
  }
}

TEST(SaveConfigurationFile, ASymbolicLinkStaysALinkAndItsTargetIsReplaced) {
  platform::TempDir dir;
  const std::string target = dir.Write("real/Tenvar.ini", "Dial Yes\n");
  const std::string link = dir.File("Tenvar.ini");
  std::filesystem::create_symlink(target, link);
  ASSERT_TRUE(SaveConfigurationFile(link, GlobalSettings{}, {}, {}).Ok());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(platform::ReadFileText(target), WriteConfiguration(GlobalSettings{}, {}, {}));
}

// The running program notices a saved file by its new last-write time and reads it again,
// back to the values it was written from.
TEST(SaveConfigurationFile, ARunningProgramReadsTheSavedFileAgain) {
  LoadedConfiguration loaded("FTPPort 21\n");
  platform::SetLastWriteTime(loaded.path, 10 * kSecond);  // long before the save
  ASSERT_TRUE(LoadConfiguration(loaded.configuration));
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

  ASSERT_TRUE(SaveConfigurationFile(loaded.path, settings, {full, bare}, tunnels).Ok());
  CheckConfigurationChanged(loaded.configuration);
  EXPECT_TRUE(loaded.messages.Lines().empty());
  EXPECT_EQ(*loaded.configuration.Settings.Load(), settings);
  ASSERT_EQ(loaded.Proxies().size(), 2u);
  EXPECT_EQ(loaded.Options(0), full);
  bare.Debug = false;
  EXPECT_EQ(loaded.Options(1), bare);
  EXPECT_EQ(*loaded.configuration.IpTunnels.Load(), tunnels);
}

}  // namespace
}  // namespace tenvar::config
