// The frame of the whole-program tests: a private directory (and, through netns-run, a
// network namespace) per test, tenvar started from an OfficeOptions with one HTTP proxy
// instance "Office" on port 8080, and curl as the office's browser. OfficeTest adds nginx as
// the origin. Used from the test's thread only, except Fetch, which may run on several.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/ip_tunnel_config.h"
#include "platform/temp_dir.h"
#include "tests/e2e/origin_server.h"
#include "tests/e2e/peer_program.h"
#include "tests/e2e/tenvar_process.h"

namespace tenvar::e2e {

struct OfficeOptions {
  bool UseUpstream = false;  // squid on 127.0.0.1:3128, unless UpstreamPort says otherwise
  int UpstreamPort = 3128;
  bool AdvancedBlocking = false;
  bool EnableLogging = true;
  bool Debug = false;
  bool AbuseDetection = true;
  bool UseCache = false;
  bool AlwaysGetNewest = false;
  bool LimitCache = false;
  int CacheExpiry = 7;
  // Contents of the instance's list files.
  std::string BlockFile = "";
  std::string UpstreamExclusions = "";
  std::string AbuseKeywords = "";
  std::string TrustedSites = "";
  std::string CacheExclusions = "";
  std::vector<config::IpTunnelConfig> Tunnels = {};
  std::string MoreLines = "";  // global settings appended to the file ("FTPPort 2121\n")
};

inline constexpr int kProxyPort = 8080;
inline constexpr const char* kProxyStarted = "HTTP Proxy started on port 8080";

// Writes dir/Tenvar.ini and the list files it names (block.txt, direct.txt, words.txt,
// trusted.txt, nocache.txt); returns the ini's path. The request log is dir/requests.csv.
inline std::string WriteOfficeConfiguration(const platform::TempDir& dir,
                                            const OfficeOptions& options) {
  std::filesystem::create_directories(dir.File("cache"));
  dir.Write("block.txt", options.BlockFile);
  dir.Write("direct.txt", options.UpstreamExclusions);
  dir.Write("words.txt", options.AbuseKeywords);
  dir.Write("trusted.txt", options.TrustedSites);
  dir.Write("nocache.txt", options.CacheExclusions);
  const auto yesNo = [](bool value) { return value ? "Yes" : "No"; };
  std::ostringstream ini;
  ini << "LogFile " << dir.File("Tenvar.log") << "\nCacheDir " << dir.File("cache")
      << "\nCacheExpiry " << options.CacheExpiry << "\nLimitCache " << yesNo(options.LimitCache)
      << "\nCacheLimit 0\n<HTTPProxy Office:" << kProxyPort << ">\n  UseUpstream "
      << yesNo(options.UseUpstream) << "\n  UpstreamProxyName 127.0.0.1"
      << "\n  UpstreamProxyPort " << options.UpstreamPort << "\n  UseCache "
      << yesNo(options.UseCache) << "\n  AlwaysGetNewest " << yesNo(options.AlwaysGetNewest)
      << "\n  CacheExclusions " << dir.File("nocache.txt") << "\n  BlockFile "
      << dir.File("block.txt") << "\n  AdvancedBlocking " << yesNo(options.AdvancedBlocking)
      << "\n  UpstreamExclusions " << dir.File("direct.txt") << "\n  EnableLogging "
      << yesNo(options.EnableLogging) << "\n  Debug " << yesNo(options.Debug)
      << "\n  AbuseDetection " << yesNo(options.AbuseDetection) << "\n  AbuseKeywords "
      << dir.File("words.txt") << "\n  TrustedSites " << dir.File("trusted.txt")
      << "\n  RequestsLog " << dir.File("requests.csv") << "\n</HTTPProxy>\n";
  for (const config::IpTunnelConfig& tunnel : options.Tunnels) {
    ini << "<IPTunnel>\n  Listen " << tunnel.Listen << "\n  Server " << tunnel.Server << "\n  Port "
        << tunnel.Port << "\n</IPTunnel>\n";
  }
  return dir.Write("Tenvar.ini", ini.str() + options.MoreLines);
}

struct CurlResult {
  std::optional<int> ExitCode;  // nothing when curl overran its own time limit
  int Status = 0;               // the HTTP status code, 0 when there was no answer
  std::string Headers;          // every header block received, proxy answers included
  std::string Body;
  std::string Stderr;
};

class TenvarTest : public ::testing::Test {
 protected:
  // Starts tenvar and waits until its proxy listens; a fatal failure otherwise, so call it
  // under ASSERT_NO_FATAL_FAILURE. `environment` ("NAME=value") is added to tenvar's.
  void StartTenvar(const OfficeOptions& options = {}, std::vector<std::string> environment = {}) {
    StartTenvarWith(WriteOfficeConfiguration(dir_, options), std::move(environment));
  }
  void StartTenvarWith(const std::string& ini, std::vector<std::string> environment = {}) {
    tenvar_.emplace(dir_, std::vector<std::string>{ini}, "tenvar", std::move(environment));
    ASSERT_TRUE(tenvar_->WaitForConsole(kProxyStarted))
        << "console: " << tenvar_->ConsoleSoFar() << "\nstderr: " << tenvar_->Stderr();
  }

  // curl -s -S --max-time 20 through the proxy with `arguments` added, ~/.curlrc ignored.
  CurlResult Fetch(const std::vector<std::string>& arguments) {
    static std::atomic<int> calls{0};
    const std::string prefix = dir_.File("curl" + std::to_string(calls++));
    std::vector<std::string> argv = {
        FindProgram("curl"),     "-q", "-s",          "-S", "--max-time", "20", "-x",
        "http://127.0.0.1:8080", "-w", "%{http_code}"};
    argv.insert(argv.end(), {"-o", prefix + ".body", "-D", prefix + ".headers"});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::optional<platform::ChildProcess> curl =
        platform::ChildProcess::Start(argv, {prefix + ".code", prefix + ".stderr", false, {}});
    // Braced, so curl has ended before its files are read.
    return {curl ? curl->WaitFor(30s) : std::nullopt,
            std::atoi(platform::ReadFileText(prefix + ".code").c_str()),
            platform::ReadFileText(prefix + ".headers"), platform::ReadFileText(prefix + ".body"),
            platform::ReadFileText(prefix + ".stderr")};
  }

  platform::TempDir dir_;
  std::optional<TenvarProcess> tenvar_;
};

class OfficeTest : public TenvarTest {
 protected:
  void SetUp() override {
    TENVAR_REQUIRE_PROGRAM("curl");
    TENVAR_REQUIRE_PROGRAM("nginx");
    origin_.emplace(dir_);
    ASSERT_TRUE(origin_->Running()) << origin_->Error();
  }

  std::optional<OriginServer> origin_;
};

}  // namespace tenvar::e2e
