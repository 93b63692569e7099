// The frame of the whole-program tests: a private directory (and, through netns-run, a
// network namespace) per test, tenvar started from an OfficeOptions with one HTTP proxy
// instance "Office" on port 8080, and curl as the office's browser. OfficeTest adds nginx as
// the origin. Used from the test's thread only, except Fetch, which may run on several.
#pragma once

#include <gtest/gtest.h>

#include <optional>
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
std::string WriteOfficeConfiguration(const platform::TempDir& dir, const OfficeOptions& options);

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
  CurlResult Fetch(const std::vector<std::string>& arguments);

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
